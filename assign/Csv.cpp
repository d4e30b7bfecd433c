#include "Csv.h"

#include <cstdio>

namespace assign {

namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

/// Length of the UTF-8 sequence starting at text[i], or 0 when it is not valid UTF-8.
std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length;
    std::uint32_t min;
    std::uint32_t cp;
    if (b < 0x80) {
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

/// Reads one line (without its line break) into a row, or says what is wrong with it.
class LineReader {
public:
    LineReader(std::string_view line, int number) : m_line(line), m_number(number) {}

    bool read(CsvRow& row, InputError& error)
    {
        // Validate the characters first, so that columns can be counted in characters.
        for (std::size_t i = 0; i < m_line.size();) {
            const auto c = static_cast<unsigned char>(m_line[i]);
            const std::size_t n = utf8Length(m_line, i);
            if (n == 0) {
                error = {at(i), text::twin(text::Id::AssignErrNotUtf8)};
                return false;
            }
            if ((c < 0x20 && c != '\t') || c == 0x7F) {
                char code[8];
                std::snprintf(code, sizeof code, "0x%02X", c);
                error = {at(i), text::twin(text::Id::AssignErrControl, {code})};
                return false;
            }
            i += n;
        }
        std::size_t i = 0;
        for (;;) {
            while (i < m_line.size() && blank(m_line[i])) {
                ++i;
            }
            CsvField field;
            field.at = at(i);
            if (i < m_line.size() && m_line[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= m_line.size()) {
                        error = {field.at, text::twin(text::Id::AssignErrOpenQuote)};
                        return false;
                    }
                    if (m_line[i] == '"') {
                        if (i + 1 < m_line.size() && m_line[i + 1] == '"') {
                            field.text += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field.text += m_line[i++];
                }
                while (i < m_line.size() && blank(m_line[i])) {
                    ++i;
                }
                if (i < m_line.size() && m_line[i] != ',') {
                    error = {at(i), text::twin(text::Id::AssignErrAfterQuote)};
                    return false;
                }
            } else {
                const std::size_t start = i;
                while (i < m_line.size() && m_line[i] != ',') {
                    if (m_line[i] == '"') {
                        error = {at(i), text::twin(text::Id::AssignErrStrayQuote)};
                        return false;
                    }
                    ++i;
                }
                std::size_t end = i;
                while (end > start && blank(m_line[end - 1])) {
                    --end;
                }
                field.text.assign(m_line.substr(start, end - start));
            }
            row.fields.push_back(std::move(field));
            if (i >= m_line.size()) {
                break;
            }
            ++i; // the comma
        }
        row.end = at(m_line.size());
        return true;
    }

private:
    Position at(std::size_t offset) const
    {
        int column = 1;
        for (std::size_t i = 0; i < offset && i < m_line.size(); ++i) {
            if ((static_cast<unsigned char>(m_line[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        return {m_number, column};
    }

    std::string_view m_line;
    int m_number;
};

} // namespace

CsvTable readCsv(std::string_view text)
{
    CsvTable table;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::size_t first = 0;
        while (first < line.size() && blank(line[first])) {
            ++first;
        }
        if (first == line.size() || line[first] == '#') {
            continue;
        }
        CsvRow row;
        InputError error;
        if (LineReader(line, number).read(row, error)) {
            table.rows.push_back(std::move(row));
        } else {
            table.errors.push_back(std::move(error));
        }
    }
    return table;
}

std::string csvField(std::string_view text)
{
    const bool plain = text.find_first_of(",\"#") == std::string_view::npos &&
                       (text.empty() || (!blank(text.front()) && !blank(text.back())));
    if (plain) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    return out + "\"";
}

} // namespace assign
