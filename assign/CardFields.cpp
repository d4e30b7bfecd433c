#include "CardFields.h"

#include <algorithm>
#include <cctype>

namespace assign {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

/// "mac, ip, mask" in English, "mac、ip、mask" in Japanese.
text::Twin joined(const std::vector<std::string_view>& names)
{
    text::Twin out;
    for (std::string_view name : names) {
        out.japanese += (out.japanese.empty() ? "" : "、") + std::string(name);
        out.english += (out.english.empty() ? "" : ", ") + std::string(name);
    }
    return out;
}

} // namespace

int Columns::of(std::string_view name) const
{
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return index[i];
        }
    }
    return -1;
}

std::optional<Columns> readHeader(const CsvRow& header,
                                  const std::vector<std::string_view>& required,
                                  const std::vector<std::string_view>& optional,
                                  const std::vector<std::string_view>& reserved,
                                  std::vector<InputError>& errors)
{
    Columns columns;
    columns.names = required;
    columns.names.insert(columns.names.end(), optional.begin(), optional.end());
    columns.index.assign(columns.names.size(), -1);
    columns.count = header.fields.size();
    bool anyRequired = false;
    for (const CsvField& field : header.fields) {
        anyRequired = anyRequired || std::find(required.begin(), required.end(),
                                               lower(field.text)) != required.end();
    }
    if (!anyRequired) {
        errors.push_back({{header.end.line, 1},
                          optional.empty()
                              ? text::twin(text::Id::AssignErrNoHeader, {joined(required)})
                              : text::twin(text::Id::AssignErrNoHeaderOptional,
                                           {joined(required), joined(optional)})});
        return std::nullopt;
    }
    const std::size_t before = errors.size();
    std::vector<std::string> extraNames;
    for (std::size_t f = 0; f < header.fields.size(); ++f) {
        const CsvField& field = header.fields[f];
        const std::string name = lower(field.text);
        if (name.empty()) {
            errors.push_back({field.at, text::twin(text::Id::AssignErrNamelessColumn)});
            continue;
        }
        if (std::find(reserved.begin(), reserved.end(), name) != reserved.end()) {
            errors.push_back(
                {field.at, text::twin(text::Id::AssignErrReservedColumn, {field.text})});
            continue;
        }
        const auto known = std::find(columns.names.begin(), columns.names.end(), name);
        if (known == columns.names.end()) {
            if (std::find(extraNames.begin(), extraNames.end(), name) != extraNames.end()) {
                errors.push_back(
                    {field.at, text::twin(text::Id::AssignErrColumnTwice, {field.text})});
                continue;
            }
            extraNames.push_back(name);
            columns.extras.emplace_back(field.text, static_cast<int>(f));
            continue;
        }
        int& index = columns.index[static_cast<std::size_t>(known - columns.names.begin())];
        if (index >= 0) {
            errors.push_back({field.at, text::twin(text::Id::AssignErrColumnTwice, {name})});
            continue;
        }
        index = static_cast<int>(f);
    }
    for (std::size_t r = 0; r < required.size(); ++r) {
        if (columns.index[r] < 0) {
            errors.push_back(
                {header.end, text::twin(text::Id::AssignErrColumnMissing,
                                        {std::string(required[r]), joined(required)})});
        }
    }
    if (errors.size() != before) {
        return std::nullopt;
    }
    return columns;
}

std::optional<std::vector<ExtraField>> readExtras(const CsvRow& row, const Columns& columns,
                                                  std::size_t maxBytes,
                                                  std::vector<InputError>& errors)
{
    std::vector<ExtraField> extras;
    bool good = true;
    for (const auto& [name, index] : columns.extras) {
        const CsvField& field = row.fields[static_cast<std::size_t>(index)];
        if (field.text.size() > maxBytes) {
            errors.push_back({field.at, text::twin(text::Id::AssignErrTooLong,
                                                   {name, std::to_string(maxBytes)})});
            good = false;
        }
        extras.emplace_back(name, field.text);
    }
    if (!good) {
        return std::nullopt;
    }
    return extras;
}

bool rowShape(const CsvRow& row, const Columns& columns, std::vector<InputError>& errors)
{
    if (row.fields.size() == columns.count) {
        return true;
    }
    const Position at = row.fields.size() > columns.count ? row.fields[columns.count].at : row.end;
    errors.push_back(
        {at, text::twin(text::Id::AssignErrFieldCount,
                        {std::to_string(row.fields.size()), std::to_string(columns.count)})});
    return false;
}

std::optional<CardFields> readCardFields(const CsvRow& row, const Columns& columns,
                                         std::vector<InputError>& errors)
{
    const CsvField& macField = row.fields[static_cast<std::size_t>(columns.of("mac"))];
    const CsvField& ipField = row.fields[static_cast<std::size_t>(columns.of("ip"))];
    const CsvField& maskField = row.fields[static_cast<std::size_t>(columns.of("mask"))];
    const CsvField& gatewayField = row.fields[static_cast<std::size_t>(columns.of("gateway"))];
    CardFields card;
    card.macAt = macField.at;
    card.ipAt = ipField.at;
    const std::size_t before = errors.size();
    text::Twin why;
    if (const auto mac = parseMac(macField.text, why)) {
        card.mac = *mac;
    } else {
        errors.push_back({macField.at, why});
    }
    const auto ip = parseIp(ipField.text, why);
    if (!ip) {
        errors.push_back({ipField.at, text::twin(text::Id::AssignErrFieldAddress, {why})});
    }
    const auto mask = parseIp(maskField.text, why);
    if (!mask) {
        errors.push_back({maskField.at, text::twin(text::Id::AssignErrFieldMask, {why})});
    }
    const auto gateway = parseIp(gatewayField.text, why);
    if (!gateway) {
        errors.push_back({gatewayField.at, text::twin(text::Id::AssignErrFieldGateway, {why})});
    }
    if (ip && mask && gateway) {
        if (const auto problem = checkSettings(*ip, *mask, *gateway)) {
            using Field = SettingsProblem::Field;
            const Position at = problem->field == Field::Address ? ipField.at
                                : problem->field == Field::Mask  ? maskField.at
                                                                 : gatewayField.at;
            errors.push_back({at, problem->text});
        }
    }
    if (errors.size() != before) {
        return std::nullopt;
    }
    card.ip = *ip;
    card.mask = *mask;
    card.gateway = *gateway;
    return card;
}

} // namespace assign
