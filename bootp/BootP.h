#pragma once

#include <cstdint>
#include <span>

// The three operations on a received boot message. They read and write the shared
// assignment state (PublicArea) and are safe for a message of any length.

/// True if and only if the message is a boot request from an unconfigured card. A message
/// too short to hold every field that the reply rewrites is never one.
bool chkRequest(std::span<const std::uint8_t> message);

/// The same test against a given options template instead of G_OptTmpl.
bool chkRequest(std::span<const std::uint8_t> message,
                std::span<const std::uint8_t, 10> optionsTemplate);

/// Rebuilds G_MacAddr from chaddr bytes 0 to 5 ("00-0A-1B-C2-3D-FF"); empty when the message
/// is too short to hold them.
void macText(std::span<const std::uint8_t> message);

/// Turns the request into the reply in place: op, yiaddr, siaddr and the mask, router and
/// end options; every other byte stays as the card sent it. Returns false and writes nothing
/// when the message is too short to hold the reply's fields.
bool makeReply(std::span<std::uint8_t> message);
