#pragma once

#include "Card.h"
#include "Rules.h"
#include "Twin.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// torvane-assign's words for the card rules of bootp/: the rules and the text forms are
// bootp's, the sentences that name a problem in an operator's file are torvane-assign's.
// Addresses are held as host-order numbers here, so that pools and subnets are arithmetic.
namespace assign {

using Ip = std::uint32_t;
using Mac = bootp::Mac;
using bootp::macText;

inline bootp::Ipv4 octets(Ip ip)
{
    return bootp::fromValue(ip);
}

std::string ipText(Ip ip);

/// An address as bootp reads it; on failure why says what is wrong.
std::optional<Ip> parseIp(std::string_view text, text::Twin& why);

/// A MAC in any form bootp reads (aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff,
/// aabbccddeeff, either case), and one a card can have; on failure why says what is wrong.
std::optional<Mac> parseMac(std::string_view text, text::Twin& why);

/// "%1 lies in 0.0.0.0/8 (this network)", "%1 is a loopback address", ...: %1 names the
/// address.
text::Id addressProblemText(bootp::AddressProblem problem);

/// A problem with its place in front ("--ip: ", "cards.csv:2:19: "), the same in both
/// languages.
text::Twin placed(const std::string& place, const text::Twin& problem);

/// "10.0.0.0/24".
std::string subnetText(Ip ip, Ip mask);

/// Which of a card's three settings breaks bootp's rules, with a sentence that says why.
struct SettingsProblem {
    using Field = bootp::SettingsProblem::Field;
    Field field;
    text::Twin text;
};

std::optional<SettingsProblem> checkSettings(Ip ip, Ip mask, Ip gateway);

} // namespace assign
