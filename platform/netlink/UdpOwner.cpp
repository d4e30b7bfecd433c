#include "UdpOwner.h"

#include "PortHolderText.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

namespace netlink {

namespace {

// The whole of a /proc file: 0 or errno.
int readWhole(const std::string& path, std::string& out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    out.clear();
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return 0;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

template <typename T> bool number(std::string_view text, T& out, int base)
{
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::string userName(std::uint32_t uid)
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// The process that has socket `inode` open; fills owner.pid and owner.program, or
// owner.hiddenBy when some process could not be looked into.
void findProcess(const std::string& proc, std::uint64_t inode, UdpOwner& owner)
{
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR* all = ::opendir(proc.c_str());
    if (all == nullptr) {
        owner.hiddenBy = errno;
        return;
    }
    while (const dirent* p = ::readdir(all)) {
        long pid = 0;
        if (!number(std::string_view(p->d_name), pid, 10)) {
            continue;
        }
        const std::string fdDir = proc + "/" + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) {
            // A process that ended meanwhile hides nothing.
            if (errno != ENOENT) {
                owner.hiddenBy = errno;
            }
            continue;
        }
        bool holds = false;
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') {
                continue;
            }
            char target[64];
            const ssize_t n = ::readlinkat(::dirfd(fds), f->d_name, target, sizeof target);
            if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == wanted) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (holds) {
            std::string comm;
            readWhole(proc + "/" + p->d_name + "/comm", comm);
            while (!comm.empty() && (comm.back() == '\n' || comm.back() == ' ')) {
                comm.pop_back();
            }
            owner.pid = pid;
            owner.program = comm;
            owner.hiddenBy = 0;
            break;
        }
    }
    ::closedir(all);
}

} // namespace

Result<std::vector<UdpEntry>> parseUdpTable(std::string_view text)
{
    std::vector<UdpEntry> out;
    bool header = true;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        const std::vector<std::string_view> f = fields(line);
        if (f.empty()) {
            continue;
        }
        if (header) {
            // "sl local_address rem_address st ... uid timeout inode"
            if (f.size() < 2 || f[0] != "sl" || f[1] != "local_address") {
                return Failure{EBADMSG};
            }
            header = false;
            continue;
        }
        // sl, local address:port, remote, st, tx:rx queue, tr:when, retransmits, uid,
        // timeout, inode, ...
        if (f.size() < 10 || f[0].empty() || f[0].back() != ':') {
            return Failure{EBADMSG};
        }
        const std::string_view local = f[1];
        const std::size_t colon = local.rfind(':');
        UdpEntry e;
        if (colon == std::string_view::npos ||
            (colon != 8 && colon != 32) || // IPv4 or IPv6 address in hex
            local.size() - colon - 1 != 4 || !number(local.substr(colon + 1), e.port, 16) ||
            !number(f[7], e.uid, 10) || !number(f[9], e.inode, 10)) {
            return Failure{EBADMSG};
        }
        out.push_back(e);
    }
    if (header) {
        return Failure{EBADMSG};
    }
    return out;
}

Result<UdpOwner> udpPortOwner(unsigned port, const std::string& proc)
{
    UdpOwner owner;
    std::uint64_t inode = 0;
    for (const char* table : {"/net/udp", "/net/udp6"}) {
        std::string text;
        if (const int error = readWhole(proc + table, text); error != 0) {
            // Without IPv6 there is no udp6 table, and no IPv6 socket either.
            if (error == ENOENT && std::strcmp(table, "/net/udp6") == 0) {
                continue;
            }
            return Failure{error};
        }
        const Result<std::vector<UdpEntry>> entries = parseUdpTable(text);
        if (!entries) {
            return Failure{entries.error()};
        }
        for (const UdpEntry& e : *entries) {
            if (e.port == port && !owner.found) {
                owner.found = true;
                owner.uid = e.uid;
                inode = e.inode;
            }
        }
        if (owner.found) {
            break;
        }
    }
    if (!owner.found) {
        return owner;
    }
    owner.user = userName(owner.uid);
    if (inode != 0) {
        findProcess(proc, inode, owner);
    }
    return owner;
}

} // namespace netlink

text::Twin udpPortHolderText(unsigned port)
{
    const netlink::Result<netlink::UdpOwner> owner = netlink::udpPortOwner(port);
    PortHolderFacts h;
    if (!owner) {
        h.unreadable = "/proc/net/udp: " + std::string(std::strerror(owner.error()));
    } else {
        h.found = owner->found;
        h.program = owner->program;
        h.pid = static_cast<unsigned long>(owner->pid);
        h.user = owner->user;
    }
    return portHolderText(h);
}
