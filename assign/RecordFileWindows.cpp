#include "RecordFile.h"

#include "Win32.h"
#include "WinNet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

namespace assign {

namespace {

/// The folder part of path with its separator (either slash), empty for a bare name.
std::string folderPart(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string folderText(const std::string& path)
{
    const std::string folder = folderPart(path);
    return folder.empty() ? std::string(".") : folder;
}

std::string baseOf(const std::string& path)
{
    return path.substr(folderPart(path).size());
}

std::string lastErrorText()
{
    return winnet::systemMessage(::GetLastError());
}

/// Creates a file beside path under a fresh name (CREATE_NEW: nothing that was there, a link
/// included, is ever opened), for this process alone. INVALID_HANDLE_VALUE and code on failure.
HANDLE createBeside(const std::string& path, DWORD flags, std::string& name, DWORD& code)
{
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        name = folderPart(path) + "." + baseOf(path) + "." + suffix;
        const HANDLE file =
            ::CreateFileW(winnet::wide(name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        code = ::GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

bool RecordFile::writable(text::Twin& error) const
{
    if (!recordPathUsable(m_path, error)) {
        return false;
    }
    // Windows has no cheap question that the folder's access list answers: a file is made
    // there and goes again when closed.
    std::string probe;
    DWORD code = 0;
    const HANDLE made = createBeside(m_path, FILE_FLAG_DELETE_ON_CLOSE, probe, code);
    if (made == INVALID_HANDLE_VALUE) {
        error = text::twin(text::Id::AssignErrFolderNotWritable,
                           {m_path, folderText(m_path), winnet::systemMessage(code)});
        return false;
    }
    ::CloseHandle(made);
    // A read-only record, or one a program holds open without sharing (a spreadsheet), cannot
    // be replaced; better said now than after the first card.
    const HANDLE record =
        ::CreateFileW(winnet::wide(m_path).c_str(), GENERIC_WRITE | DELETE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (record == INVALID_HANDLE_VALUE) {
        code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) {
            error = m_path + ": " + winnet::systemMessage(code);
            return false;
        }
        return true;
    }
    ::CloseHandle(record);
    return true;
}

bool RecordFile::save(std::string& error)
{
    // Checked again at each write: a link planted during the run is refused, not followed. The
    // run reports a failed write in one text, the English one, which --format json prints.
    if (text::Twin why; !recordPathUsable(m_path, why)) {
        error = why.english;
        return false;
    }
    const std::string text = recordText(m_entries);
    std::string temporary;
    DWORD code = 0;
    HANDLE file = createBeside(m_path, 0, temporary, code);
    if (file == INVALID_HANDLE_VALUE) {
        error =
            m_path + ": cannot create a temporary file beside it: " + winnet::systemMessage(code);
        return false;
    }
    const std::wstring temporaryName = winnet::wide(temporary);
    auto fail = [&](const std::string& what) {
        error = what + ": " + lastErrorText();
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        ::DeleteFileW(temporaryName.c_str());
        return false;
    };
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        DWORD written = 0;
        if (!::WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0) {
            return fail(temporary);
        }
        done += written;
    }
    if (!::FlushFileBuffers(file)) {
        return fail(temporary);
    }
    const BOOL closed = ::CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (!closed) {
        return fail(temporary);
    }
    // WRITE_THROUGH: the call returns once the new name is on disk, the folder's fsync of Linux.
    if (!::MoveFileExW(temporaryName.c_str(), winnet::wide(m_path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail(m_path);
    }
    return true;
}

bool recordPathUsable(const std::string& path, text::Twin& error)
{
    const DWORD attributes = ::GetFileAttributesW(winnet::wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return true; // a new record
        }
        error = path + ": " + winnet::systemMessage(code);
        return false;
    }
    // A junction, a symbolic link or a placeholder of a cloud folder: replacing it by a plain
    // file would drop what it stands for.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = text::twin(text::Id::AssignErrReparsePoint, {path});
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = text::twin(text::Id::AssignErrNotRegular, {path});
        return false;
    }
    return true;
}

bool readFile(const std::string& path, std::size_t maxBytes, std::string& text, text::Twin& error,
              bool noFollow)
{
    // With noFollow the link itself is opened and then refused, so that no link planted between
    // a check and the open is followed.
    const HANDLE file = ::CreateFileW(
        winnet::wide(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = path + ": " + lastErrorText();
        return false;
    }
    auto fail = [&](text::Twin why) {
        error = std::move(why);
        ::CloseHandle(file);
        return false;
    };
    if (noFollow) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file, &info)) {
            return fail(path + ": " + lastErrorText());
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return fail(text::twin(text::Id::AssignErrReparsePoint, {path}));
        }
    }
    text.clear();
    char chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
            return fail(path + ": " + lastErrorText());
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, n);
        if (text.size() > maxBytes) {
            return fail(text::twin(text::Id::AssignErrTooLarge,
                                   {path, std::to_string(maxBytes / (1024 * 1024))}));
        }
    }
    ::CloseHandle(file);
    return true;
}

std::string localTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_s(&local, &now);
    // The C runtime's %z is the zone's name here, not its offset: the offset is the local time
    // read as if it were UTC, less the time.
    std::tm copy = local;
    const long offset = static_cast<long>(::_mkgmtime(&copy) - now);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long minutes = std::labs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(text) + zone;
}

} // namespace assign
