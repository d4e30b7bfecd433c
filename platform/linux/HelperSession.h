#pragma once

#include "HelperLink.h"

#include <cstdint>

// What the socket and the neighbour table share: the link to the helper, and the request the
// current card's reply and entry refer to.
struct HelperSession {
    helper::HelperLink link;
    std::uint32_t requestId = 0;
    int arrivalInterface = 0;
};
