#include "HelperAccess.h"

#include <algorithm>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string groupName(gid_t gid)
{
    const group* g = ::getgrgid(gid);
    return g != nullptr ? g->gr_name : std::to_string(gid);
}

std::string userName(uid_t uid)
{
    const passwd* p = ::getpwuid(uid);
    return p != nullptr ? p->pw_name : std::to_string(uid);
}

} // namespace

HelperAccess helperAccessOf(const struct stat& file, const std::vector<gid_t>& groups)
{
    HelperAccess a;
    a.group = groupName(file.st_gid);
    a.owner = userName(file.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(file.st_mode & 07777));
    a.mode = mode;
    const bool forGroup = (file.st_mode & S_IXGRP) != 0 && (file.st_mode & S_IXOTH) == 0;
    const bool member = std::find(groups.begin(), groups.end(), file.st_gid) != groups.end();
    // Group 0 is root's: a member of it would not be asking.
    a.problem = forGroup && !member && file.st_gid != 0 ? HelperAccess::Problem::NotInGroup
                                                        : HelperAccess::Problem::OwnerOrMode;
    return a;
}

HelperAccess helperAccess(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    if (n < 0) {
        return {};
    }
    groups.resize(static_cast<std::size_t>(n));
    groups.push_back(::getegid());
    return helperAccessOf(st, groups);
}
