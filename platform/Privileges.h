#pragma once

/// True when the program runs as root (started with sudo, say).
bool runsAsRoot();
