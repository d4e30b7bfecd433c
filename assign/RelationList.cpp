#include "RelationList.h"

#include <algorithm>
#include <map>

namespace assign {

namespace {

constexpr std::size_t kMaxName = 200;

std::string lineOf(const Position& at)
{
    return std::to_string(at.line);
}

} // namespace

RelationList readRelationList(std::string_view text)
{
    RelationList list;
    CsvTable table = readCsv(text);
    list.errors = std::move(table.errors);
    if (table.rows.empty()) {
        if (list.errors.empty()) {
            list.errors.push_back({{1, 1}, text::twin(text::Id::AssignErrListEmpty)});
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
                list.errors.push_back({field.at, text::twin(text::Id::AssignErrTooLong,
                                                            {"name", std::to_string(kMaxName)})});
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
            list.errors.push_back(
                {fields->macAt, text::twin(text::Id::AssignErrMacListedTwice,
                                           {macText(fields->mac), lineOf(seen->second)})});
            clash = true;
        }
        if (const auto seen = addresses.find(fields->ip); seen != addresses.end()) {
            list.errors.push_back(
                {fields->ipAt, text::twin(text::Id::AssignErrIpListedTwice,
                                          {ipText(fields->ip), lineOf(seen->second)})});
            clash = true;
        } else if (const auto gw = gateways.find(fields->ip); gw != gateways.end()) {
            list.errors.push_back(
                {fields->ipAt, text::twin(text::Id::AssignErrIsGateway,
                                          {ipText(fields->ip), lineOf(gw->second)})});
            clash = true;
        }
        if (fields->gateway != 0) {
            if (const auto seen = addresses.find(fields->gateway); seen != addresses.end()) {
                list.errors.push_back(
                    {row.fields[static_cast<std::size_t>(columns->of("gateway"))].at,
                     text::twin(text::Id::AssignErrGatewayIsCard,
                                {ipText(fields->gateway), lineOf(seen->second)})});
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
        list.errors.push_back({table.rows.front().end, text::twin(text::Id::AssignErrListNoCard)});
    }
    std::stable_sort(
        list.errors.begin(), list.errors.end(), [](const InputError& a, const InputError& b) {
            return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
        });
    return list;
}

} // namespace assign
