#include "Export.h"

#include "Event.h"

#include <map>
#include <utility>

namespace assign {

namespace {

std::string colonMac(const Mac& mac)
{
    std::string text = macText(mac);
    for (char& c : text) {
        c = c == '-' ? ':' : static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return text;
}

} // namespace

std::string dnsmasqConfig(const std::vector<RecordEntry>& entries)
{
    std::map<std::pair<Ip, Ip>, int> tags;
    std::string hosts;
    std::string options;
    for (const RecordEntry& e : entries) {
        const auto key = std::make_pair(e.mask, e.gateway);
        auto [it, isNew] = tags.try_emplace(key, static_cast<int>(tags.size()) + 1);
        const std::string tag = "torvane-" + std::to_string(it->second);
        if (isNew) {
            if (e.gateway != 0) {
                options += "dhcp-option=tag:" + tag + ",option:router," + ipText(e.gateway) + "\n";
            }
            options += "dhcp-option=tag:" + tag + ",option:netmask," + ipText(e.mask) + "\n";
        }
        if (!e.name.empty()) {
            hosts += "# " + e.name + "\n";
        }
        hosts += "dhcp-host=" + colonMac(e.mac) + ",set:" + tag + "," + ipText(e.ip) + "\n";
    }
    return "# " + std::to_string(entries.size()) + " cards from a torvane-assign record\n" + hosts +
           options;
}

std::string keaReservations(const std::vector<RecordEntry>& entries)
{
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RecordEntry& e = entries[i];
        out += i == 0 ? "\n" : ",\n";
        out += "  { \"hw-address\": " + jsonString(colonMac(e.mac)) +
               ", \"ip-address\": " + jsonString(ipText(e.ip)) + ",\n    \"option-data\": [ ";
        if (e.gateway != 0) {
            out += "{ \"name\": \"routers\", \"data\": " + jsonString(ipText(e.gateway)) + " }, ";
        }
        out += "{ \"name\": \"subnet-mask\", \"data\": " + jsonString(ipText(e.mask)) + " } ]";
        if (!e.name.empty() || !e.extra.empty()) {
            out += ",\n    \"user-context\": { ";
            bool first = true;
            if (!e.name.empty()) {
                out += "\"name\": " + jsonString(e.name);
                first = false;
            }
            for (const auto& [name, value] : e.extra) {
                out += (first ? "" : ", ") + jsonString(name) + ": " + jsonString(value);
                first = false;
            }
            out += " }";
        }
        out += " }";
    }
    return out + (entries.empty() ? "]\n" : "\n]\n");
}

} // namespace assign
