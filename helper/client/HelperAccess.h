#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// Why this user may not run the helper, told from the file itself: joining the helper's group
// helps only when the file is meant for a group (group may execute, others may not) that the
// process is not in. Anything else (a root group, a mode without the group's x, a member that
// is refused all the same) is the file's owner or mode.
struct HelperAccess {
    enum class Problem { NotInGroup, OwnerOrMode };
    Problem problem = Problem::OwnerOrMode;
    std::string group; ///< the file's group by name (its number when it has no name)
    std::string owner;
    std::string mode; ///< four octal digits, e.g. 0750
};

/// The reading of a refused helper file for a process in the given groups.
HelperAccess helperAccessOf(const struct stat& file, const std::vector<gid_t>& groups);
/// The same for the file at path and this process; OwnerOrMode when the file cannot be read.
HelperAccess helperAccess(const std::string& path);
