#pragma once

#include "SimOptions.h"

#include <string>
#include <string_view>
#include <vector>

namespace cardsim {

/// One thing that happened, printed as one line on stdout in the chosen format.
struct Record {
    struct Field {
        std::string key;
        std::string value;
        bool number = false; // printed without quotes in JSON
    };

    std::string event;
    std::string text; // the line for people
    std::vector<Field> fields;

    Record& add(std::string key, std::string value);
    Record& addNumber(std::string key, std::string value);
};

/// The line for `format`, without the newline.
std::string formatRecord(const Record& record, Format format);

/// The record of a valid reply.
Record assignedRecord(const Assignment& a, const Mac& mac, std::uint32_t xid, std::size_t length,
                      int requests, double seconds);

/// Adds layout=card, or layout=other and card_fault (why the card itself refuses the reply).
void addLayout(Record& record, const ReplyCheck& check);

std::string hexXid(std::uint32_t xid);

/// `text` safe for a terminal: printable ASCII stays, a backslash is doubled and every other
/// byte (control characters, escape sequences, non-ASCII) becomes \xNN.
std::string printable(std::string_view text);

} // namespace cardsim
