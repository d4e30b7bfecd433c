#pragma once

#include <thread>

// Registers the faces that stand in for the Windows faces the windows name (MS Gothic,
// Century, Arial) and sets the Japanese-capable default UI font. Call once after the
// application object exists.
void installFonts();

/// Reads the system's font configuration on a thread of its own while the main thread
/// connects to the display, instead of when the first text box is built: on two cores the
/// two overlap and the window maps a few milliseconds earlier. wait() before the first
/// window is built; the destructor waits too.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;
    void wait();

private:
    std::thread m_thread;
};
