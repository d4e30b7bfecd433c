#pragma once

#include "CardSim.h"

#include <string>
#include <string_view>

namespace cardsim {

/// The card's start page: title "Web/SNMP Card <MAC>" and the assigned values.
std::string cardPage(const Mac& mac, const Assignment& assignment);

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

} // namespace cardsim
