#include "RelationList.h"

#include <algorithm>
#include <map>

namespace assign {

namespace {

constexpr std::size_t kMaxName = 200;

std::string lineRef(const Position& at)
{
    return "line " + std::to_string(at.line);
}

} // namespace

RelationList readRelationList(std::string_view text)
{
    RelationList list;
    CsvTable table = readCsv(text);
    list.errors = std::move(table.errors);
    if (table.rows.empty()) {
        if (list.errors.empty()) {
            list.errors.push_back({{1, 1},
                                   "the list is empty: it needs the header "
                                   "mac,ip,mask,gateway and a row per card"});
        }
        return list;
    }
    const auto columns = readHeader(table.rows.front(), {"mac", "ip", "mask", "gateway"}, {"name"},
                                    {"time", "confirmed"}, list.errors);
    if (!columns) {
        return list;
    }
    std::map<Mac, Position> macs;
    std::map<Ip, Position> addresses;
    std::map<Ip, Position> gateways;
    const int nameIndex = columns->of("name");
    for (std::size_t r = 1; r < table.rows.size(); ++r) {
        const CsvRow& row = table.rows[r];
        if (!rowShape(row, *columns, list.errors)) {
            continue;
        }
        const auto fields = readCardFields(row, *columns, list.errors);
        std::string name;
        if (nameIndex >= 0) {
            const CsvField& field = row.fields[static_cast<std::size_t>(nameIndex)];
            if (field.text.size() > kMaxName) {
                list.errors.push_back(
                    {field.at, "the name is longer than " + std::to_string(kMaxName) + " bytes"});
                continue;
            }
            name = field.text;
        }
        auto extra = readExtras(row, *columns, kMaxName, list.errors);
        if (!fields || !extra) {
            continue;
        }
        bool clash = false;
        if (const auto seen = macs.find(fields->mac); seen != macs.end()) {
            list.errors.push_back({fields->macAt, "MAC " + macText(fields->mac) +
                                                      " is listed twice (first on " +
                                                      lineRef(seen->second) + ")"});
            clash = true;
        }
        if (const auto seen = addresses.find(fields->ip); seen != addresses.end()) {
            list.errors.push_back({fields->ipAt, "address " + ipText(fields->ip) +
                                                     " is listed twice (first on " +
                                                     lineRef(seen->second) + ")"});
            clash = true;
        } else if (const auto gw = gateways.find(fields->ip); gw != gateways.end()) {
            list.errors.push_back({fields->ipAt, "address " + ipText(fields->ip) +
                                                     " is the gateway of the card on " +
                                                     lineRef(gw->second)});
            clash = true;
        }
        if (fields->gateway != 0) {
            if (const auto seen = addresses.find(fields->gateway); seen != addresses.end()) {
                list.errors.push_back(
                    {row.fields[static_cast<std::size_t>(columns->of("gateway"))].at,
                     "gateway " + ipText(fields->gateway) + " is the address of the card on " +
                         lineRef(seen->second)});
                clash = true;
            }
            gateways.emplace(fields->gateway, fields->macAt);
        }
        if (clash) {
            continue;
        }
        macs.emplace(fields->mac, fields->macAt);
        addresses.emplace(fields->ip, fields->ipAt);
        list.cards.push_back({fields->mac, fields->ip, fields->mask, fields->gateway,
                              std::move(name), std::move(*extra), fields->macAt, fields->ipAt});
    }
    if (list.cards.empty() && list.errors.empty()) {
        list.errors.push_back({table.rows.front().end, "the list has a header but no card"});
    }
    std::stable_sort(
        list.errors.begin(), list.errors.end(), [](const InputError& a, const InputError& b) {
            return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
        });
    return list;
}

} // namespace assign
