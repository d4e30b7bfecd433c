#include "PortOwner.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace assign {

namespace {

std::string processHolding(const std::string& inode)
{
    const std::string wanted = "socket:[" + inode + "]";
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        return {};
    }
    std::string found;
    while (const dirent* p = ::readdir(proc)) {
        const std::string pid = p->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || !found.empty()) {
            continue;
        }
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) {
            continue;
        }
        while (const dirent* f = ::readdir(fds)) {
            char target[64] = {};
            const std::string link = fdDir + "/" + f->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && wanted == target) {
                std::ifstream comm("/proc/" + pid + "/comm");
                std::string name;
                std::getline(comm, name);
                found = (name.empty() ? "a program" : name) + " (pid " + pid + ")";
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

} // namespace

std::string udpPortOwner(unsigned port)
{
    std::ifstream udp("/proc/net/udp");
    std::string line;
    std::getline(udp, line); // header
    char wantedPort[8];
    std::snprintf(wantedPort, sizeof wantedPort, ":%04X", port);
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmit, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmit >> uid >>
            timeout >> inode;
        if (local.size() < 5 || local.substr(local.size() - 5) != wantedPort) {
            continue;
        }
        std::string holder = processHolding(inode);
        if (!holder.empty()) {
            return holder;
        }
        const passwd* pw = ::getpwuid(static_cast<uid_t>(std::strtoul(uid.c_str(), nullptr, 10)));
        return "a program of user " + (pw ? std::string(pw->pw_name) : uid) +
               " (its process is not visible to this user)";
    }
    return {};
}

} // namespace assign
