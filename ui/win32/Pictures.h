#pragma once

#include "Win32Ui.h"

namespace win32ui {

/// A palette bitmap from the program's resources whose palette entry 0 is its transparent
/// colour (as res/win32/xpm2win.py writes them).
class Picture {
public:
    Picture() = default;
    explicit Picture(int resource);
    ~Picture();
    Picture(Picture&& other) noexcept;
    Picture& operator=(Picture&& other) noexcept;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    bool valid() const { return m_bitmap != nullptr; }
    SIZE size() const { return m_size; }
    /// Draws the picture at (x, y), scaled to width × height; the window shows through the
    /// transparent colour.
    void draw(HDC dc, int x, int y, int width, int height) const;

private:
    HBITMAP m_bitmap = nullptr;
    SIZE m_size{};
    COLORREF m_key = 0;
};

/// An icon of the program's resources in the size given.
HICON loadIcon(int resource, int size);

} // namespace win32ui
