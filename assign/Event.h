#pragma once

#include "Options.h"

#include <string>
#include <vector>

// One thing that happened during a run, as a sentence for people or a JSON object for scripts.
namespace assign {

struct Event {
    struct Field {
        std::string key;
        std::string value;
        enum class Kind { Text, Number, Bool, Raw } kind = Kind::Text;
    };

    std::string name; ///< "assigned", "confirmed", ...
    std::string text; ///< the sentence shown on a terminal
    std::vector<Field> fields;

    Event(std::string eventName, std::string sentence)
        : name(std::move(eventName)), text(std::move(sentence))
    {
    }
    Event& add(std::string key, std::string value);
    Event& number(std::string key, double value);
    Event& number(std::string key, long value);
    Event& flag(std::string key, bool value);
    /// value is already JSON (an array built with jsonArray)
    Event& raw(std::string key, std::string json);
};

/// A JSON string literal; control characters are escaped and bytes that are not UTF-8 become
/// U+FFFD, so the line is always valid JSON.
std::string jsonString(const std::string& text);
std::string jsonArray(const std::vector<std::string>& items);

/// {"event":"assigned","mac":"00-0A-...",...} for Json; the sentence for Text.
std::string formatEvent(const Event& event, Format format);

} // namespace assign
