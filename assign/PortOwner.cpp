#include "PortOwner.h"

namespace assign {

std::string portOwnerText(const std::string& program, unsigned long pid)
{
    return (program.empty() ? std::string("a program") : program) + " (pid " + std::to_string(pid) +
           ")";
}

std::string portOwnerUnreadable(const std::string& table, const std::string& why)
{
    return "a program this user cannot name (" + table + " could not be read: " + why + ")";
}

} // namespace assign
