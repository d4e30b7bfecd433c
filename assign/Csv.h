#pragma once

#include "Twin.h"

#include <string>
#include <string_view>
#include <vector>

// Comma-separated text as spreadsheets write it (RFC 4180): fields may be quoted with "" for a
// quote inside; LF or CR LF ends a line; a UTF-8 byte order mark is skipped. For hand-written
// files, blank lines and lines whose first character is # are skipped and blanks around an
// unquoted field are dropped. A quoted field may not span lines, so that every field has one
// line and column to name in a message.
namespace assign {

/// Where something lies in a user's file; both count from 1, columns in characters.
struct Position {
    int line = 0;
    int column = 0;
};

struct InputError {
    Position at;
    text::Twin text;
};

struct CsvField {
    std::string text;
    Position at;
};

struct CsvRow {
    std::vector<CsvField> fields;
    Position end; ///< just past the row's last character, for a missing field
};

struct CsvTable {
    std::vector<CsvRow> rows;
    std::vector<InputError> errors; ///< rows with an error are left out of rows
};

/// Splits text into rows; a row that cannot be read is reported and left out.
CsvTable readCsv(std::string_view text);

/// A field as it must be written so that readCsv gives it back.
std::string csvField(std::string_view text);

} // namespace assign
