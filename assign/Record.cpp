#include "Record.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace assign {

namespace {

constexpr std::size_t kMaxName = 200;

bool digits(std::string_view text, std::size_t from, std::size_t count)
{
    for (std::size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

const char* confirmedText(Confirmed c)
{
    switch (c) {
    case Confirmed::Pending:
        return "pending";
    case Confirmed::Yes:
        return "yes";
    case Confirmed::No:
        return "no";
    case Confirmed::Unchecked:
        return "unchecked";
    }
    return "pending";
}

bool recordTime(std::string_view t)
{
    // 2026-03-02T10:14:05+01:00 or 2026-03-02T10:14:05Z
    const bool stamp = t.size() >= 20 && digits(t, 0, 4) && t[4] == '-' && digits(t, 5, 2) &&
                       t[7] == '-' && digits(t, 8, 2) && t[10] == 'T' && digits(t, 11, 2) &&
                       t[13] == ':' && digits(t, 14, 2) && t[16] == ':' && digits(t, 17, 2);
    if (!stamp) {
        return false;
    }
    if (t.size() == 20) {
        return t[19] == 'Z';
    }
    return t.size() == 25 && (t[19] == '+' || t[19] == '-') && digits(t, 20, 2) && t[22] == ':' &&
           digits(t, 23, 2);
}

RecordTable readRecord(std::string_view text)
{
    RecordTable record;
    CsvTable table = readCsv(text);
    record.errors = std::move(table.errors);
    if (table.rows.empty()) {
        return record; // an empty record is a new one
    }
    const auto columns =
        readHeader(table.rows.front(), {"mac", "ip", "mask", "gateway", "time", "confirmed"},
                   {"name"}, {}, record.errors);
    if (!columns) {
        return record;
    }
    std::map<Mac, Position> macs;
    std::map<Ip, Position> addresses;
    for (std::size_t r = 1; r < table.rows.size(); ++r) {
        const CsvRow& row = table.rows[r];
        if (!rowShape(row, *columns, record.errors)) {
            continue;
        }
        const auto fields = readCardFields(row, *columns, record.errors);
        const CsvField& time = row.fields[static_cast<std::size_t>(columns->of("time"))];
        const CsvField& confirmed = row.fields[static_cast<std::size_t>(columns->of("confirmed"))];
        RecordEntry entry;
        bool good = fields.has_value();
        if (!recordTime(time.text)) {
            record.errors.push_back({time.at, text::twin(text::Id::AssignErrTime, {time.text})});
            good = false;
        }
        entry.time = time.text;
        bool known = false;
        for (Confirmed c :
             {Confirmed::Pending, Confirmed::Yes, Confirmed::No, Confirmed::Unchecked}) {
            if (confirmed.text == confirmedText(c)) {
                entry.confirmed = c;
                known = true;
            }
        }
        if (!known) {
            record.errors.push_back(
                {confirmed.at, text::twin(text::Id::AssignErrConfirmed, {confirmed.text})});
            good = false;
        }
        if (const int n = columns->of("name"); n >= 0) {
            const CsvField& name = row.fields[static_cast<std::size_t>(n)];
            if (name.text.size() > kMaxName) {
                record.errors.push_back({name.at, text::twin(text::Id::AssignErrTooLong,
                                                             {"name", std::to_string(kMaxName)})});
                good = false;
            }
            entry.name = name.text;
        }
        if (auto extra = readExtras(row, *columns, kMaxName, record.errors)) {
            entry.extra = std::move(*extra);
        } else {
            good = false;
        }
        if (!good) {
            continue;
        }
        if (const auto seen = macs.find(fields->mac); seen != macs.end()) {
            record.errors.push_back(
                {fields->macAt,
                 text::twin(text::Id::AssignErrMacRecordedTwice,
                            {macText(fields->mac), std::to_string(seen->second.line)})});
            continue;
        }
        if (const auto seen = addresses.find(fields->ip); seen != addresses.end()) {
            record.errors.push_back(
                {fields->ipAt,
                 text::twin(text::Id::AssignErrIpRecordedTwice,
                            {ipText(fields->ip), std::to_string(seen->second.line)})});
            continue;
        }
        macs.emplace(fields->mac, fields->macAt);
        addresses.emplace(fields->ip, fields->ipAt);
        entry.mac = fields->mac;
        entry.ip = fields->ip;
        entry.mask = fields->mask;
        entry.gateway = fields->gateway;
        entry.macAt = fields->macAt;
        entry.ipAt = fields->ipAt;
        record.entries.push_back(std::move(entry));
    }
    return record;
}

std::string recordText(const std::vector<RecordEntry>& entries)
{
    std::vector<std::string> extras;
    for (const RecordEntry& e : entries) {
        for (const ExtraField& field : e.extra) {
            if (std::none_of(extras.begin(), extras.end(), [&](const std::string& known) {
                    return sameName(known, field.first);
                })) {
                extras.push_back(field.first);
            }
        }
    }
    std::string text = "mac,ip,mask,gateway,time,confirmed,name";
    for (const std::string& name : extras) {
        text += "," + csvField(name);
    }
    text += "\n";
    for (const RecordEntry& e : entries) {
        text += macText(e.mac) + "," + ipText(e.ip) + "," + ipText(e.mask) + "," +
                ipText(e.gateway) + "," + csvField(e.time) + "," + confirmedText(e.confirmed) +
                "," + csvField(e.name);
        for (const std::string& name : extras) {
            std::string value;
            for (const auto& field : e.extra) {
                if (sameName(field.first, name)) {
                    value = field.second;
                }
            }
            text += "," + csvField(value);
        }
        text += "\n";
    }
    return text;
}

} // namespace assign
