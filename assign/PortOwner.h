#pragma once

#include <string>

namespace assign {

/// Who holds a UDP port in this network namespace, read from /proc/net/udp and /proc/*/fd
/// (Linux) or the UDP table with its owners' pids (Windows): "dnsmasq (pid 812)"; "a program
/// of user dnsmasq (its process is not visible to this user)" when the socket's owner can be
/// seen but not its process (Linux); "a program whose process cannot be found" when the table
/// names no process (Wine); a sentence naming the error when the table cannot be read; empty
/// only when the table was read and holds no such socket.
std::string udpPortOwner(unsigned port);

/// The sentences of both systems: "dnsmasq (pid 812)", "a program (pid 812)".
std::string portOwnerText(const std::string& program, unsigned long pid);
/// "a program this user cannot name (<table> could not be read: <why>)".
std::string portOwnerUnreadable(const std::string& table, const std::string& why);

} // namespace assign
