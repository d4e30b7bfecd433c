#include "Host.h"

#include "CardPort.h"
#include "PortHolderText.h"
#include "Runner.h"
#include "Say.h"
#include "Win32.h"

#include <csignal>
#include <shellapi.h>

namespace assign {

namespace {

/// The console's events arrive on a thread of their own. Ctrl-C and Ctrl-Break only ask the
/// loop to stop; closing the console, logging off or shutting down end the process as soon
/// as this handler returns, so it gives the loop a moment to write the record first.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        g_stopSignal = SIGINT;
        return TRUE;
    case CTRL_BREAK_EVENT:
        g_stopSignal = SIGTERM;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_stopSignal = SIGTERM;
        ::Sleep(2000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::unique_ptr<helper::Link> startLink(const Options&, text::Twin& why)
{
    winnet::Result<std::unique_ptr<winnet::CardPort>> port = winnet::CardPort::open(67);
    if (port) {
        return std::move(*port);
    }
    const winnet::Failure f = port.failure();
    if (f.code == WSAEADDRINUSE || f.code == WSAEACCES) {
        why = text::twin(text::Id::AssignPortHeld, {udpPortHolderText(67)});
    } else {
        why = say(text::Id::AssignPortFailed, {winnet::describe(f)});
    }
    return nullptr;
}

void waitFor(const helper::Link& link, const std::vector<const HttpCheck*>& checks,
             std::chrono::milliseconds timeout)
{
    std::vector<WSAPOLLFD> fds;
    fds.push_back({static_cast<SOCKET>(link.waitHandle()), POLLRDNORM, 0});
    for (const HttpCheck* check : checks) {
        if (check->handle() != HttpCheck::kNoSocket) {
            fds.push_back({static_cast<SOCKET>(check->handle()), check->events(), 0});
        }
    }
    // The console's stop arrives on another thread and cannot wake WSAPoll: wait in slices.
    const int slice = static_cast<int>(std::min<long long>(timeout.count(), 200));
    if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), slice) == SOCKET_ERROR) {
        ::Sleep(static_cast<DWORD>(slice));
    }
}

void catchStopSignals()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

const char* stopName(int signal)
{
    return signal == SIGINT ? "Ctrl-C" : "Ctrl-Break";
}

std::vector<std::string> programArguments(int, char**)
{
    // main's argv is in the ANSI code page; the command line itself is UTF-16.
    std::vector<std::string> words;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; argv != nullptr && i < count; ++i) {
        words.push_back(winnet::utf8(argv[i]));
    }
    ::LocalFree(argv);
    ::SetConsoleOutputCP(CP_UTF8);
    return words;
}

bool outputIsTerminal()
{
    // The status line is redrawn with an escape sequence, which the console needs to be told
    // to interpret.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return ::GetConsoleMode(out, &mode) &&
           ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

text::Lang desktopLanguage()
{
    return text::languageFromWindows(::GetUserDefaultUILanguage());
}

bool pathExists(const std::string& path)
{
    if (::GetFileAttributesW(winnet::wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

} // namespace assign
