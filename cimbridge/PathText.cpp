#include "PathText.h"

#include <strings.h>

#include <charconv>
#include <cstdint>
#include <system_error>

namespace pathtext {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

void appendQuoted(std::string& out, const std::string& value)
{
    out.push_back('"');
    for (char c : value) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

bool isBareLiteral(const std::string& text)
{
    if (strcasecmp(text.c_str(), "true") == 0 || strcasecmp(text.c_str(), "false") == 0) {
        return true;
    }
    // Only a decimal integer in range, without leading zeros: the path parser
    // refuses "+5", "1.5", "1e5" and "007" written bare.
    const bool negative = !text.empty() && text[0] == '-';
    const std::size_t digitsAt = negative ? 1 : 0;
    if (digitsAt >= text.size() || !isDigit(text[digitsAt]) ||
        (text[digitsAt] == '0' && digitsAt + 1 != text.size())) {
        return false;
    }
    const char* const end = text.data() + text.size();
    std::from_chars_result read;
    if (negative) {
        std::int64_t value = 0;
        read = std::from_chars(text.data(), end, value);
    } else {
        std::uint64_t value = 0;
        read = std::from_chars(text.data(), end, value);
    }
    return read.ec == std::errc() && read.ptr == end;
}

void appendKeyBinding(std::string& text, bool& first, std::string name, const std::string& value, bool bare)
{
    if (name.empty()) {
        return;
    }
    if (name[0] == ',') {
        name.erase(0, 1);
    }
    text += first ? "." : ",";
    first = false;
    text += name;
    text += "=";
    if (bare && isBareLiteral(value)) {
        text += value;
    } else {
        appendQuoted(text, value);
    }
}

}  // namespace pathtext
