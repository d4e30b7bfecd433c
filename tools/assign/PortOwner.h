#pragma once

#include <string>

namespace assign {

/// Who holds a UDP port in this network namespace, read from /proc/net/udp and /proc/*/fd:
/// "dnsmasq (pid 812)"; "a program of user dnsmasq (its process is not visible to this user)"
/// when the socket's owner can be seen but not its process; empty when nothing is found.
std::string udpPortOwner(unsigned port);

} // namespace assign
