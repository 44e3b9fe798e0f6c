#include "PathText.h"

#include <strings.h>

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
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponent = 0;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++exponent;
        }
        if (exponent == 0) {
            return false;
        }
    }
    return i == text.size();
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
