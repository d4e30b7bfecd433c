#include "RecordFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace assign {

namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Whose files may hold the record: the user's own and root's, as OpenSSH trusts them.
bool trustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

// The record itself: a regular file of a trusted owner that nobody else may write.
bool trustedRecord(const std::string& path, const struct stat& st, text::Twin& error)
{
    if (!S_ISREG(st.st_mode)) {
        error = text::twin(text::Id::AssignErrNotRegular, {path});
        return false;
    }
    if (!trustedOwner(st.st_uid)) {
        error = text::twin(text::Id::AssignErrNotYours, {path, std::to_string(st.st_uid)});
        return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        error = text::twin(text::Id::AssignErrOthersWrite, {path});
        return false;
    }
    return true;
}

// Every folder from the record's up to the root: nobody but the user and root may rename or
// replace what lies in it, except in a sticky folder, where only its owner may move an entry
// that is the user's or root's.
bool trustedFolders(const std::string& path, const struct stat* record, text::Twin& error)
{
    char resolved[PATH_MAX];
    if (::realpath(folderOf(path).c_str(), resolved) == nullptr) {
        error = text::twin(text::Id::AssignErrFolderNotWritable,
                           {path, folderOf(path), std::string(std::strerror(errno))});
        return false;
    }
    std::string folder = resolved;
    bool childTrusted = record == nullptr || trustedOwner(record->st_uid);
    for (;;) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) {
            error = folder + ": " + std::strerror(errno);
            return false;
        }
        const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (!trustedOwner(st.st_uid) ||
            (othersWrite && ((st.st_mode & S_ISVTX) == 0 || !childTrusted))) {
            error = text::twin(text::Id::AssignErrFolderShared, {path, folder});
            return false;
        }
        if (folder == "/") {
            return true;
        }
        childTrusted = true; // this folder's owner was just found trusted
        folder = folderOf(folder);
    }
}

} // namespace

bool RecordFile::writable(text::Twin& error) const
{
    if (!recordPathUsable(m_path, error)) {
        return false;
    }
    const std::string folder = folderOf(m_path);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        error = text::twin(text::Id::AssignErrFolderNotWritable,
                           {m_path, folder, std::string(std::strerror(errno))});
        return false;
    }
    if (::access(m_path.c_str(), F_OK) == 0 && ::access(m_path.c_str(), W_OK) != 0) {
        error = m_path + ": " + std::strerror(errno);
        return false;
    }
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
    // Read and write for the user, read for others as the umask allows; never more than the
    // old record allowed, and never a special bit, whatever the old file had.
    mode_t mode = 0644 & ~currentUmask();
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0) {
        mode &= st.st_mode;
    }
    // A fresh name made with O_CREAT|O_EXCL: in a folder others may write, nobody can have
    // put a link or a file of theirs there beforehand.
    std::string temporary = folderOf(m_path) + "/." + baseOf(m_path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = m_path + ": cannot create a temporary file beside it: " + std::strerror(errno);
        return false;
    }
    auto fail = [&](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    };
    if (::fchmod(fd, mode) != 0) {
        return fail(temporary);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(temporary);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        return fail(temporary);
    }
    if (::close(fd) != 0) {
        error = temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = m_path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    const int dir = ::open(folderOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0) {
        error =
            folderOf(m_path) + ": the rename could not be flushed to disk: " + std::strerror(errno);
        if (dir >= 0) {
            ::close(dir);
        }
        return false;
    }
    ::close(dir);
    return true;
}

bool recordPathUsable(const std::string& path, text::Twin& error)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return trustedFolders(path, nullptr, error); // a new record
        }
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        error = text::twin(text::Id::AssignErrSymlink, {path});
        return false;
    }
    return trustedRecord(path, st, error) && trustedFolders(path, &st, error);
}

bool readFile(const std::string& path, std::size_t maxBytes, std::string& text, text::Twin& error,
              bool record)
{
    // The record may have been swapped since it was checked: O_NONBLOCK keeps a FIFO from
    // hanging the open, and what was opened is checked again.
    const int fd = ::open(path.c_str(),
                          O_RDONLY | O_CLOEXEC | (record ? O_NOFOLLOW | O_NONBLOCK : 0));
    if (fd < 0) {
        error = record && errno == ELOOP ? text::twin(text::Id::AssignErrSymlink, {path})
                                         : text::Twin(path + ": " + std::strerror(errno));
        return false;
    }
    if (record) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (!trustedRecord(path, st, error)) {
            ::close(fd);
            return false;
        }
    }
    text.clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {
            error = text::twin(text::Id::AssignErrTooLarge,
                               {path, std::to_string(maxBytes / (1024 * 1024))});
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

std::string localTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // %z gives +0100; the record writes +01:00.
    std::string out(text);
    if (out.size() == 24) {
        out.insert(22, ":");
    }
    return out;
}

} // namespace assign
