#include "OsVersion.h"

#include <sys/utsname.h>

void queryOsVersion(OsVersion& version)
{
    version = {};
    utsname u{};
    if (uname(&u) == 0) {
        version.release = u.release;
    }
}
