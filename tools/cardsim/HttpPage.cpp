#include "HttpPage.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace cardsim {

namespace {

constexpr const char* kRealm = "Web/SNMP Card";

std::string response(int status, const char* reason, const std::string& body, bool withBody,
                     const std::string& extraHeaders = "",
                     const char* type = "text/html; charset=utf-8")
{
    std::string r = "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
    r += std::string("Content-Type: ") + type + "\r\n";
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

std::string plainPage(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body><h1>" + title + "</h1>\n" + body + "</body></html>\n";
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of the first header called `name` (any case), without surrounding blanks.
std::optional<std::string_view> header(std::string_view head, std::string_view name)
{
    std::size_t at = head.find("\r\n");
    while (at != std::string_view::npos && at + 2 < head.size()) {
        const std::size_t start = at + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line =
            head.substr(start, end == std::string_view::npos ? head.npos : end - start);
        const std::size_t colon = line.find(':');
        if (colon == name.size() &&
            std::equal(name.begin(), name.end(), line.begin(),
                       [](char a, char b) { return lower(a) == lower(b); })) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                value.remove_suffix(1);
            }
            return value;
        }
        at = end;
    }
    return std::nullopt;
}

bool authorized(std::string_view head, const std::string& basicAuth)
{
    const auto value = header(head, "Authorization");
    if (!value || value->size() < 6 ||
        !std::equal(value->begin(), value->begin() + 6, "basic ",
                    [](char a, char b) { return lower(a) == b; })) {
        return false;
    }
    std::string_view token = value->substr(6);
    while (!token.empty() && token.front() == ' ') {
        token.remove_prefix(1);
    }
    return token == base64(basicAuth);
}

// The uploaded file of a multipart/form-data body: its name and its bytes.
struct Upload {
    std::string name;
    std::string_view bytes;
};

std::optional<Upload> uploadOf(std::string_view head, std::string_view body)
{
    const auto type = header(head, "Content-Type");
    if (!type || !type->starts_with("multipart/form-data")) {
        return std::nullopt;
    }
    const auto b = type->find("boundary=");
    if (b == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view boundary = type->substr(b + 9);
    boundary = boundary.substr(0, boundary.find(';'));
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') {
        boundary = boundary.substr(1, boundary.size() - 2);
    }
    const std::string delimiter = "--" + std::string(boundary);
    // Each part: delimiter CRLF headers CRLF CRLF content CRLF delimiter.
    for (std::size_t at = body.find(delimiter); at != std::string_view::npos;) {
        const std::size_t headsAt = at + delimiter.size() + 2;
        const std::size_t headsEnd = body.find("\r\n\r\n", headsAt);
        if (headsAt > body.size() || headsEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view heads = body.substr(headsAt, headsEnd - headsAt);
        const std::size_t next = body.find("\r\n" + delimiter, headsEnd + 4);
        if (next == std::string_view::npos) {
            return std::nullopt;
        }
        const auto f = heads.find("filename=\"");
        if (f != std::string_view::npos) {
            const std::size_t nameEnd = heads.find('"', f + 10);
            if (nameEnd == std::string_view::npos) {
                return std::nullopt;
            }
            return Upload{std::string(heads.substr(f + 10, nameEnd - f - 10)),
                          body.substr(headsEnd + 4, next - headsEnd - 4)};
        }
        at = next + 2;
    }
    return std::nullopt;
}

// A file name as text inside a page.
std::string escaped(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// FNV-1a, 64 bits: enough to tell the operator's file from any other in a test.
std::string checksum(std::string_view bytes)
{
    std::uint64_t h = 14695981039346656037ULL;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

} // namespace

std::string base64(std::string_view bytes)
{
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 2]));
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63],
                kAlphabet[n & 63]};
    }
    if (i + 1 == bytes.size()) {
        const auto n = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16;
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const auto n = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += {kAlphabet[n >> 18], kAlphabet[(n >> 12) & 63], kAlphabet[(n >> 6) & 63], '='};
    }
    return out;
}

std::optional<std::size_t> contentLength(std::string_view head)
{
    const auto value = header(head, "Content-Length");
    if (!value) {
        return 0;
    }
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), n);
    if (error != std::errc{} || end != value->data() + value->size()) {
        return std::nullopt;
    }
    return n;
}

std::string cardPage(const Mac& mac, const Assignment& a)
{
    const std::string name = "Web/SNMP Card " + formatMac(mac);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
           "</title></head>\n<body><h1>" + name + "</h1>\n<table>\n<tr><th>IP address</th><td>" +
           dotted(a.address) + "</td></tr>\n<tr><th>Subnet mask</th><td>" + dotted(a.mask) +
           "</td></tr>\n<tr><th>Default gateway</th><td>" + dotted(a.gateway) +
           "</td></tr>\n<tr><th>Assigned by</th><td>" + dotted(a.server) +
           "</td></tr>\n</table>\n<ul>\n"
           "<li><a id=\"download\" href=\"/config.txt\">Configuration file</a></li>\n"
           "<li><a id=\"upload\" href=\"/upload\">Firmware upload</a></li>\n"
           "<li><a id=\"blank\" href=\"/about\" target=\"_blank\">About (new window)</a></li>\n"
           "<li><a id=\"open\" href=\"/about\" onclick=\"window.open('/about'); return false;\">"
           "About (window.open)</a></li>\n"
           "<li><a id=\"popup\" href=\"/popup\" onclick=\"window.open('/popup', 'cardpopup', "
           "'width=420,height=260'); return false;\">Status (pop-up)</a></li>\n"
           "</ul>\n<p>Simulated by torvane-cardsim.</p></body></html>\n";
}

HttpAnswer answerHttp(std::string_view head, const std::string& page)
{
    return answerHttp(head, {}, HttpSite{page, {}, {}});
}

HttpAnswer answerHttp(std::string_view head, std::string_view body, const HttpSite& site)
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
    const bool isPost = answer.method == "POST";
    const std::string_view path = std::string_view(answer.path).substr(0, answer.path.find('?'));
    if (!site.redirectTo.empty()) {
        answer.status = 302;
        const std::string to =
            site.redirectTo +
            std::string(answer.path.starts_with('/') ? answer.path.substr(1) : std::string());
        answer.bytes =
            response(302, "Found", errorPage(302, "Found"), !isHead, "Location: " + to + "\r\n");
        return answer;
    }
    if (!site.basicAuth.empty() && !authorized(head, site.basicAuth)) {
        answer.status = 401;
        answer.bytes =
            response(401, "Unauthorized", errorPage(401, "Unauthorized"), !isHead,
                     std::string("WWW-Authenticate: Basic realm=\"") + kRealm + "\"\r\n");
        return answer;
    }
    if (isPost && path == "/upload") {
        const auto upload = uploadOf(head, body);
        if (!upload) {
            answer.status = 400;
            answer.bytes = response(400, "Bad Request", errorPage(400, "Bad Request"), true);
            return answer;
        }
        answer.status = 200;
        answer.bytes =
            response(200, "OK",
                     plainPage("Upload received", "<p id=\"result\">" + escaped(upload->name) +
                                                      " " + std::to_string(upload->bytes.size()) +
                                                      " bytes fnv1a64 " + checksum(upload->bytes) +
                                                      "</p>\n<p><a href=\"/\">Back</a></p>\n"),
                     true);
        return answer;
    }
    if (answer.method != "GET" && !isHead) {
        answer.status = 405;
        answer.bytes =
            response(405, "Method Not Allowed", errorPage(405, "Method Not Allowed"), true,
                     path == "/upload" ? "Allow: GET, HEAD, POST\r\n" : "Allow: GET, HEAD\r\n");
        return answer;
    }
    answer.status = 200;
    if (path == "/" || path == "/index.html") {
        answer.bytes = response(200, "OK", site.page, !isHead);
    } else if (path == "/config.txt") {
        answer.bytes =
            response(200, "OK",
                     "# Web/SNMP card configuration\nsnmp.community=public\n"
                     "http.port=80\n",
                     !isHead, "Content-Disposition: attachment; filename=\"card-config.txt\"\r\n",
                     "text/plain; charset=utf-8");
    } else if (path == "/upload") {
        answer.bytes = response(
            200, "OK",
            plainPage("Firmware upload",
                      "<form method=\"post\" action=\"/upload\" enctype=\"multipart/form-data\">\n"
                      "<input type=\"file\" id=\"file\" name=\"firmware\" "
                      "onchange=\"this.form.submit()\" style=\"position:absolute; left:0; "
                      "top:0; width:100%; height:100%; opacity:0.01\">\n"
                      "<input type=\"submit\" id=\"send\" value=\"Upload\">\n</form>\n"),
            !isHead);
    } else if (path == "/about") {
        answer.bytes =
            response(200, "OK", plainPage("About this card", "<p>About.</p>\n"), !isHead);
    } else if (path == "/popup") {
        answer.bytes =
            response(200, "OK", plainPage("Card status", "<p>Status: normal.</p>\n"), !isHead);
    } else {
        answer.status = 404;
        answer.bytes = response(404, "Not Found", errorPage(404, "Not Found"), !isHead);
    }
    return answer;
}

} // namespace cardsim
