#include "WinNet.h"

#include "Win32.h"

#include <cerrno>

namespace winnet {

std::string systemMessage(unsigned long code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? utf8({buffer, length}) : std::string{};
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return (text.empty() ? std::string("error") : text) + " (" + std::to_string(code) + ")";
}

std::string describe(const Failure& failure)
{
    return std::string(failure.call) + ": " + systemMessage(failure.code);
}

int errnoOf(unsigned long code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EPERM;
    case WSAEACCES:
        return EACCES;
    case ERROR_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DEV_NOT_EXIST:
        return ENODEV;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case WSAENOBUFS:
    case ERROR_BUFFER_OVERFLOW:
    case ERROR_INSUFFICIENT_BUFFER:
        return ENOBUFS;
    case WSAENETDOWN:
    case ERROR_NETWORK_UNREACHABLE:
        return ENETDOWN;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return ENETUNREACH;
    case WSAEWOULDBLOCK:
        return EAGAIN;
    case WSAEMFILE:
        return EMFILE;
    case ERROR_PROC_NOT_FOUND:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOSYS;
    default:
        return EIO;
    }
}

helper::Answer failedAnswer(const Failure& failure)
{
    helper::Answer a;
    a.error = errnoOf(failure.code);
    a.reason = describe(failure);
    return a;
}

Winsock::Winsock()
{
    WSADATA data;
    m_error = ::WSAStartup(MAKEWORD(2, 2), &data);
}

Winsock::~Winsock()
{
    if (m_error == 0) {
        ::WSACleanup();
    }
}

} // namespace winnet
