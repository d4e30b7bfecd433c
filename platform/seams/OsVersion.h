#pragma once

#include <string>

// What the OS version query reports; only the platform identifier is used.
struct OsVersion {
    /// 2 is the NT family of Windows; kPlatformLinux here.
    int platformId = 0;
    std::string release;
};

inline constexpr int kPlatformWindowsNt = 2;
inline constexpr int kPlatformLinux = 255;

/// Fills the record; a failed query leaves the platform identifier 0.
void queryOsVersion(OsVersion& version);
