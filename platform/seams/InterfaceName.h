#pragma once

#include <string>

/// The interface's name ("eth0", "Ethernet"), or "interface N" when it has none that can be
/// read (gone, or never there). One definition per platform, beside its other network queries.
std::string interfaceName(unsigned index);
