#include "OsVersion.h"

#include <sys/utsname.h>

void queryOsVersion(OsVersion& version)
{
    utsname u{};
    if (uname(&u) != 0) {
        version.platformId = 0;
        return;
    }
    version.platformId = kPlatformLinux;
    version.release = u.release;
}
