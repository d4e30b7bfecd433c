#pragma once

#include "CardFields.h"

#include <string>
#include <string_view>
#include <vector>

// The record of what was given out: one line per card, kept on disk as the roll-out goes so
// that a later run continues it.
//   mac,ip,mask,gateway,time,confirmed,name[,the list's own columns]
//   00-0A-1B-C2-3D-01,10.0.0.101,255.255.255.0,10.0.0.1,2026-03-02T10:14:05+01:00,yes,
namespace assign {

enum class Confirmed {
    Pending,   ///< the reply went out; the check of the card's page has not ended
    Yes,       ///< the card's web server answered at the address
    No,        ///< it did not answer before the deadline
    Unchecked, ///< --confirm none
};

const char* confirmedText(Confirmed c);

struct RecordEntry {
    Mac mac{};
    Ip ip = 0;
    Ip mask = 0;
    Ip gateway = 0;
    std::string time; ///< of the reply, local time with its offset: 2026-03-02T10:14:05+01:00
    Confirmed confirmed = Confirmed::Pending;
    std::string name;
    std::vector<ExtraField> extra; ///< the list's own columns, after name
    Position macAt;
    Position ipAt;
};

struct RecordTable {
    std::vector<RecordEntry> entries;
    std::vector<InputError> errors;
};

/// Reads a record written by an earlier run, as strictly as a relation list: a MAC or an
/// address on two lines means the record was edited into a contradiction.
RecordTable readRecord(std::string_view text);

/// The whole file for these entries, header first; the extra columns of all entries, in the
/// order they first appear, follow name.
std::string recordText(const std::vector<RecordEntry>& entries);

/// Whether text is a time as the record writes it.
bool recordTime(std::string_view text);

} // namespace assign
