#pragma once

#include "CardSim.h"

#include <optional>
#include <string>
#include <string_view>

namespace cardsim {

/// The card's start page: title "Web/SNMP Card <MAC>" and the assigned values.
std::string cardPage(const Mac& mac, const Assignment& assignment);

/// What one listener serves.
struct HttpSite {
    std::string page;       // the card's start page
    std::string basicAuth;  // "user:password" that every request must carry; empty: none
    std::string redirectTo; // non-empty: every request is sent there (302), path kept
};

struct HttpAnswer {
    int status = 0;
    std::string method; // as the request named it, for the log
    std::string path;
    std::string bytes; // the whole response, head and body
};

/// Answers one request head (the request line and headers, up to the blank line): the page
/// for GET or HEAD of "/" and "/index.html", 404 for every other path (a browser asks for
/// /favicon.ico too), 405 for other methods, 400 for a head that is not HTTP. Every answer
/// closes the connection.
HttpAnswer answerHttp(std::string_view head, const std::string& page);

/// Answers one request (head and body) as a card's firmware does: with a login (HTTP Basic)
/// when the site has one, a redirect when the site is only a way to another, and besides the
/// start page a configuration download (/config.txt), a firmware upload form (/upload: GET
/// the form, POST multipart/form-data) and the targets of a new-window link (/about) and of a
/// pop-up (/popup).
HttpAnswer answerHttp(std::string_view head, std::string_view body, const HttpSite& site);

/// The length the request's body has, from its Content-Length header (0 when there is none);
/// nullopt when the header is not a number.
std::optional<std::size_t> contentLength(std::string_view head);

/// "user:password" in base64 (RFC 4648), as the Basic scheme sends it.
std::string base64(std::string_view bytes);

} // namespace cardsim
