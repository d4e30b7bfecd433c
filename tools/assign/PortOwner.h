#pragma once

#include <string>

namespace assign {

/// Who holds a UDP port in this network namespace, read from /proc/net/udp and /proc/*/fd:
/// "dnsmasq (pid 812)"; "a program of user dnsmasq (its process is not visible to this user)"
/// when the socket's owner can be seen but not its process; a sentence naming the error when
/// the table cannot be read; empty only when the table was read and holds no such socket.
std::string udpPortOwner(unsigned port);

} // namespace assign
