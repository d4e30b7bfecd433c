#include "Privileges.h"

#include <unistd.h>

bool runsAsRoot()
{
    return geteuid() == 0;
}
