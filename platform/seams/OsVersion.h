#pragma once

#include <string>

// What the OS version query reports; the main window keeps it (M_OsVer).
struct OsVersion {
    /// Windows' platform identifier (2 for the NT family); 0 elsewhere.
    int platformId = 0;
    std::string release;
};

/// Fills the record; a failed query leaves the platform identifier 0.
void queryOsVersion(OsVersion& version);
