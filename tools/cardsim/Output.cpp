#include "Output.h"

#include <cstdio>

namespace cardsim {

namespace {

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

Record& Record::add(std::string key, std::string value)
{
    fields.push_back({std::move(key), std::move(value), false});
    return *this;
}

Record& Record::addNumber(std::string key, std::string value)
{
    fields.push_back({std::move(key), std::move(value), true});
    return *this;
}

std::string formatRecord(const Record& record, Format format)
{
    std::string line;
    switch (format) {
    case Format::Text:
        return record.text;
    case Format::Kv:
        line = "event=" + record.event;
        for (const auto& f : record.fields) {
            line += " " + f.key + "=" + f.value;
        }
        return line;
    case Format::Json:
        line = "{\"event\":" + jsonString(record.event);
        for (const auto& f : record.fields) {
            line += "," + jsonString(f.key) + ":" + (f.number ? f.value : jsonString(f.value));
        }
        return line + "}";
    }
    return line;
}

void addLayout(Record& record, const ReplyCheck& check)
{
    record.add("layout", check.cardLayout ? "card" : "other");
    if (!check.cardLayout) {
        record.add("card_fault", faultName(check.layoutFault));
        record.text += "; taken as a general DHCP client takes it: the card refuses it (" +
                       check.layoutMessage + ")";
    }
}

std::string hexXid(std::uint32_t xid)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", xid);
    return text;
}

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

Record assignedRecord(const Assignment& a, const Mac& mac, std::uint32_t xid, std::size_t length,
                      int requests, double seconds)
{
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", seconds);
    Record r;
    r.event = "assigned";
    r.text = "card " + formatMac(mac) + " was assigned address " + dotted(a.address) + " mask " +
             dotted(a.mask) + " gateway " + dotted(a.gateway) + " by server " + dotted(a.server) +
             " (" + std::to_string(requests) + (requests == 1 ? " request, " : " requests, ") +
             elapsed + " s)";
    r.add("mac", formatMac(mac))
        .add("address", dotted(a.address))
        .add("mask", dotted(a.mask))
        .add("gateway", dotted(a.gateway))
        .add("server", dotted(a.server))
        .add("xid", hexXid(xid))
        .addNumber("length", std::to_string(length))
        .addNumber("requests", std::to_string(requests))
        .addNumber("seconds", elapsed);
    return r;
}

} // namespace cardsim
