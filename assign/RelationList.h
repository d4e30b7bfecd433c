#pragma once

#include "CardFields.h"

#include <string>
#include <string_view>
#include <vector>

// The relation list the operator hands in: which card (by MAC) gets which settings.
//   mac,ip,mask,gateway[,name][,any column of the operator's own]
//   00-0A-1B-C2-3D-01,10.0.0.21,255.255.255.0,10.0.0.1,rack 3 UPS
namespace assign {

struct ListedCard {
    Mac mac{};
    Ip ip = 0;
    Ip mask = 0;
    Ip gateway = 0;
    std::string name;
    std::vector<ExtraField> extra; ///< the operator's own columns, kept in the record
    Position macAt;
    Position ipAt;
};

struct RelationList {
    std::vector<ListedCard> cards;
    std::vector<InputError> errors; ///< every problem found, in file order
};

/// Reads and checks a relation list: each row as checkSettings demands, no MAC or address
/// twice, and no card's address that is another card's gateway.
RelationList readRelationList(std::string_view text);

} // namespace assign
