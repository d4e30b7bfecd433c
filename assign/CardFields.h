#pragma once

#include "Csv.h"
#include "Wording.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the relation list and the record have in common: a header naming the columns, and
// per row a card's MAC with its address, mask and gateway.
namespace assign {

/// The column of each name in a header; -1 for an optional column that is absent.
struct Columns {
    std::vector<std::string_view> names;
    std::vector<int> index;
    /// Columns of the operator's own (a location, an asset tag): their header text and place.
    std::vector<std::pair<std::string, int>> extras;
    std::size_t count = 0; ///< fields per row
    int of(std::string_view name) const;
};

/// A column the operator added, kept with the card: its header text and the row's value.
using ExtraField = std::pair<std::string, std::string>;

/// Reads the header row: names are compared without regard to case; each required name must
/// be there, an optional one may be, a reserved one is refused, and any other is kept as an
/// extra column. A first row that names none of the required columns is not a header at all:
/// one error says so.
std::optional<Columns> readHeader(const CsvRow& header,
                                  const std::vector<std::string_view>& required,
                                  const std::vector<std::string_view>& optional,
                                  const std::vector<std::string_view>& reserved,
                                  std::vector<InputError>& errors);

/// The extra columns' values of a row; a value longer than maxBytes is an error.
std::optional<std::vector<ExtraField>> readExtras(const CsvRow& row, const Columns& columns,
                                                  std::size_t maxBytes,
                                                  std::vector<InputError>& errors);

struct CardFields {
    Mac mac{};
    Ip ip = 0;
    Ip mask = 0;
    Ip gateway = 0;
    Position macAt;
    Position ipAt;
};

/// The MAC and the three settings of one row, checked as checkSettings does; each problem is
/// reported at the column it lies in.
std::optional<CardFields> readCardFields(const CsvRow& row, const Columns& columns,
                                         std::vector<InputError>& errors);

/// A row must have as many fields as the header.
bool rowShape(const CsvRow& row, const Columns& columns, std::vector<InputError>& errors);

} // namespace assign
