#include "Event.h"

#include <cmath>
#include <cstdio>

namespace assign {

Event& Event::add(std::string key, std::string value)
{
    fields.push_back({std::move(key), std::move(value), Field::Kind::Text});
    return *this;
}

Event& Event::number(std::string key, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::isfinite(value) ? value : 0.0);
    fields.push_back({std::move(key), text, Field::Kind::Number});
    return *this;
}

Event& Event::number(std::string key, long value)
{
    fields.push_back({std::move(key), std::to_string(value), Field::Kind::Number});
    return *this;
}

Event& Event::flag(std::string key, bool value)
{
    fields.push_back({std::move(key), value ? "true" : "false", Field::Kind::Bool});
    return *this;
}

Event& Event::raw(std::string key, std::string json)
{
    fields.push_back({std::move(key), std::move(json), Field::Kind::Raw});
    return *this;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t length = (c & 0xE0) == 0xC0   ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        std::uint32_t cp = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            valid = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        const std::uint32_t min = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        valid = valid && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i ? "," : "") + jsonString(items[i]);
    }
    return out + "]";
}

std::string formatEvent(const Event& event, Format format)
{
    if (format == Format::Text) {
        return event.text;
    }
    std::string line = "{\"event\":" + jsonString(event.name);
    for (const Event::Field& f : event.fields) {
        line += "," + jsonString(f.key) + ":" +
                (f.kind == Event::Field::Kind::Text ? jsonString(f.value) : f.value);
    }
    return line + "}";
}

} // namespace assign
