#include "HttpPage.h"

namespace cardsim {

namespace {

std::string response(int status, const char* reason, const std::string& body, bool withBody,
                     const char* extraHeaders = "")
{
    std::string r = "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
    r += "Content-Type: text/html; charset=utf-8\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    r += extraHeaders;
    r += "Connection: close\r\n\r\n";
    if (withBody) {
        r += body;
    }
    return r;
}

std::string errorPage(int status, const char* reason)
{
    const std::string title = std::to_string(status) + " " + reason;
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1></body></html>\n";
}

} // namespace

std::string cardPage(const Mac& mac, const Assignment& a)
{
    const std::string name = "Web/SNMP Card " + formatMac(mac);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
           "</title></head>\n<body><h1>" + name + "</h1>\n<table>\n<tr><th>IP address</th><td>" +
           dotted(a.address) + "</td></tr>\n<tr><th>Subnet mask</th><td>" + dotted(a.mask) +
           "</td></tr>\n<tr><th>Default gateway</th><td>" + dotted(a.gateway) +
           "</td></tr>\n<tr><th>Assigned by</th><td>" + dotted(a.server) +
           "</td></tr>\n</table>\n<p>Simulated by torvane-cardsim.</p></body></html>\n";
}

HttpAnswer answerHttp(std::string_view head, const std::string& page)
{
    HttpAnswer answer;
    const std::string_view line = head.substr(0, head.find("\r\n"));
    const auto firstBlank = line.find(' ');
    const auto secondBlank = line.find(' ', firstBlank == line.npos ? line.npos : firstBlank + 1);
    if (firstBlank == line.npos || secondBlank == line.npos ||
        !line.substr(secondBlank + 1).starts_with("HTTP/")) {
        answer.status = 400;
        answer.bytes = response(400, "Bad Request", errorPage(400, "Bad Request"), true);
        return answer;
    }
    answer.method = line.substr(0, firstBlank);
    answer.path = line.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    const bool isHead = answer.method == "HEAD";
    if (answer.method != "GET" && !isHead) {
        answer.status = 405;
        answer.bytes = response(405, "Method Not Allowed", errorPage(405, "Method Not Allowed"),
                                true, "Allow: GET, HEAD\r\n");
        return answer;
    }
    const std::string_view path = std::string_view(answer.path).substr(0, answer.path.find('?'));
    if (path == "/" || path == "/index.html") {
        answer.status = 200;
        answer.bytes = response(200, "OK", page, !isHead);
    } else {
        answer.status = 404;
        answer.bytes = response(404, "Not Found", errorPage(404, "Not Found"), !isHead);
    }
    return answer;
}

} // namespace cardsim
