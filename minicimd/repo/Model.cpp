#include "repo/Model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace minicimd {

const char* cimStatusName(int code) {
    switch (code) {
    case 0: return "CIM_ERR_SUCCESS";
    case 1: return "CIM_ERR_FAILED";
    case 2: return "CIM_ERR_ACCESS_DENIED";
    case 3: return "CIM_ERR_INVALID_NAMESPACE";
    case 4: return "CIM_ERR_INVALID_PARAMETER";
    case 5: return "CIM_ERR_INVALID_CLASS";
    case 6: return "CIM_ERR_NOT_FOUND";
    case 7: return "CIM_ERR_NOT_SUPPORTED";
    case 8: return "CIM_ERR_CLASS_HAS_CHILDREN";
    case 9: return "CIM_ERR_CLASS_HAS_INSTANCES";
    case 10: return "CIM_ERR_INVALID_SUPERCLASS";
    case 11: return "CIM_ERR_ALREADY_EXISTS";
    case 12: return "CIM_ERR_NO_SUCH_PROPERTY";
    case 13: return "CIM_ERR_TYPE_MISMATCH";
    case 14: return "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED";
    case 15: return "CIM_ERR_INVALID_QUERY";
    case 16: return "CIM_ERR_METHOD_NOT_AVAILABLE";
    case 17: return "CIM_ERR_METHOD_NOT_FOUND";
    case 20: return "CIM_ERR_NAMESPACE_NOT_EMPTY";
    case 21: return "CIM_ERR_INVALID_ENUMERATION_CONTEXT";
    case 22: return "CIM_ERR_INVALID_OPERATION_TIMEOUT";
    case 23: return "CIM_ERR_PULL_HAS_BEEN_ABANDONED";
    case 24: return "CIM_ERR_PULL_CANNOT_BE_ABANDONED";
    case 25: return "CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED";
    case 26: return "CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED";
    case 27: return "CIM_ERR_SERVER_LIMITS_EXCEEDED";
    case 28: return "CIM_ERR_SERVER_IS_SHUTTING_DOWN";
    default: return "CIM_ERR_UNKNOWN";
    }
}

bool nameEq(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string lowerName(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

namespace {

std::string quoteKey(const std::string& v) {
    std::string r = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    return r + "\"";
}

[[noreturn]] void badPath(const std::string& text, const std::string& why) {
    throw CimError(kCimInvalidParameter, "malformed object path '" + text + "': " + why);
}

// Recursion bound for references nested inside reference keys.
constexpr int kMaxPathNesting = 8;

ObjectPath parsePath(const std::string& text, int depth) {
    if (depth > kMaxPathNesting) badPath(text, "references nested too deeply");
    ObjectPath p;
    size_t i = 0;
    if (text.compare(0, 2, "//") == 0) {
        size_t slash = text.find('/', 2);
        if (slash == std::string::npos) badPath(text, "host without namespace");
        p.host = text.substr(2, slash - 2);
        i = slash + 1;
    }
    size_t colon = text.find(':', i);
    size_t dot = text.find('.', i);
    size_t eq = text.find('=', i);
    if (colon != std::string::npos && colon < std::min(dot, eq)) {
        p.nameSpace = text.substr(i, colon - i);
        i = colon + 1;
    }
    size_t end = text.find('.', i);
    p.className = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (p.className.empty()) badPath(text, "no class name");
    for (char c : p.className)
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80))
            badPath(text, "bad character in class name");
    if (end == std::string::npos) return p;
    i = end + 1;
    while (i < text.size()) {
        size_t e = text.find('=', i);
        if (e == std::string::npos) badPath(text, "key without '='");
        KeyBinding k;
        k.name = text.substr(i, e - i);
        if (k.name.empty()) badPath(text, "empty key name");
        i = e + 1;
        if (i < text.size() && text[i] == '"') {
            ++i;
            std::string v;
            bool closed = false;
            while (i < text.size()) {
                char c = text[i++];
                if (c == '\\' && i < text.size()) {
                    v += text[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    v += c;
                }
            }
            if (!closed) badPath(text, "unterminated quoted key value");
            k.kind = KeyBinding::String;
            k.value = v;
        } else {
            size_t comma = text.find(',', i);
            k.value = text.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
            if (k.value.empty()) badPath(text, "empty key value");
            if (nameEq(k.value, "true") || nameEq(k.value, "false")) {
                k.kind = KeyBinding::Boolean;
                k.value = nameEq(k.value, "true") ? "TRUE" : "FALSE";
            } else {
                k.kind = KeyBinding::Numeric;
            }
            i = comma == std::string::npos ? text.size() : comma;
        }
        p.keys.push_back(std::move(k));
        if (i < text.size()) {
            if (text[i] != ',') badPath(text, "expected ',' between keys");
            ++i;
            if (i == text.size()) badPath(text, "trailing ','");
        }
    }
    return p;
}

}  // namespace

std::string ObjectPath::toString() const {
    std::string r;
    if (!host.empty()) r += "//" + host + "/";
    if (!nameSpace.empty()) r += nameSpace + ":";
    r += className;
    std::vector<const KeyBinding*> sorted;
    for (const auto& k : keys) sorted.push_back(&k);
    std::sort(sorted.begin(), sorted.end(),
              [](const KeyBinding* a, const KeyBinding* b) { return lowerName(a->name) < lowerName(b->name); });
    for (size_t n = 0; n < sorted.size(); ++n) {
        const KeyBinding& k = *sorted[n];
        r += n == 0 ? "." : ",";
        r += k.name + "=";
        if (k.kind == KeyBinding::String) r += quoteKey(k.value);
        else if (k.kind == KeyBinding::Reference) r += quoteKey(k.ref ? k.ref->toString() : "");
        else r += k.value;
    }
    return r;
}

ObjectPath ObjectPath::parse(const std::string& text) { return parsePath(text, 0); }

bool Value::operator==(const Value& o) const {
    if (type != o.type || isArray != o.isArray || null != o.null || items.size() != o.items.size()) return false;
    for (size_t i = 0; i < items.size(); ++i) {
        if (type == DataType::Reference) {
            if (!items[i].ref || !o.items[i].ref) return items[i].ref == o.items[i].ref;
            if (lowerName(items[i].ref->toString()) != lowerName(o.items[i].ref->toString())) return false;
        } else if (items[i].text != o.items[i].text) {
            return false;
        }
    }
    return true;
}

std::string formatReal(DataType t, double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    char buf[64];
    snprintf(buf, sizeof buf, t == DataType::Real32 ? "%.8e" : "%.16e", v);
    return buf;
}

bool isValidDateTime(const std::string& s) {
    if (s.size() != 25 || s[14] != '.') return false;
    auto digitsOrStars = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (!isdigit(static_cast<unsigned char>(s[i])) && s[i] != '*') return false;
        return true;
    };
    if (!digitsOrStars(0, 14) || !digitsOrStars(15, 21)) return false;
    if (s[21] == ':') return s.compare(22, 3, "000") == 0;  // interval
    if (s[21] != '+' && s[21] != '-') return false;
    if (!digitsOrStars(22, 25)) return false;
    auto num = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (s[i] == '*') return -1;
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    int month = num(4, 2), day = num(6, 2), hour = num(8, 2), minute = num(10, 2), sec = num(12, 2);
    if (month != -1 && (month < 1 || month > 12)) return false;
    if (day != -1 && (day < 1 || day > 31)) return false;
    if (hour > 23 || minute > 59 || sec > 60) return false;
    return true;
}

std::string canonicalScalar(DataType t, const std::string& textIn) {
    auto mismatch = [&](const std::string& why) -> CimError {
        return CimError(kCimTypeMismatch, "'" + textIn + "' is not a valid " + mof::dataTypeName(t) +
                                              (why.empty() ? "" : " (" + why + ")"));
    };
    // Numbers and booleans may carry surrounding white space in XML.
    std::string text = textIn;
    if (t != DataType::String && t != DataType::Char16) {
        size_t a = text.find_first_not_of(" \t\r\n");
        size_t b = text.find_last_not_of(" \t\r\n");
        text = a == std::string::npos ? "" : text.substr(a, b - a + 1);
    }
    switch (t) {
    case DataType::Boolean:
        if (nameEq(text, "true")) return "TRUE";
        if (nameEq(text, "false")) return "FALSE";
        throw mismatch("");
    case DataType::Uint8: case DataType::Uint16: case DataType::Uint32: case DataType::Uint64:
    case DataType::Sint8: case DataType::Sint16: case DataType::Sint32: case DataType::Sint64: {
        if (text.empty()) throw mismatch("empty");
        bool neg = false;
        size_t i = 0;
        if (text[0] == '+' || text[0] == '-') {
            neg = text[0] == '-';
            i = 1;
        }
        unsigned base = 10;
        if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            base = 16;
            i += 2;
        }
        if (i >= text.size()) throw mismatch("no digits");
        uint64_t mag = 0;
        for (; i < text.size(); ++i) {
            char c = text[i];
            unsigned d;
            if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
            else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
            else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
            else throw mismatch("unexpected character");
            if (mag > (UINT64_MAX - d) / base) throw mismatch("out of range");
            mag = mag * base + d;
        }
        bool isSigned = t == DataType::Sint8 || t == DataType::Sint16 || t == DataType::Sint32 || t == DataType::Sint64;
        int bits = (t == DataType::Uint8 || t == DataType::Sint8) ? 8
                 : (t == DataType::Uint16 || t == DataType::Sint16) ? 16
                 : (t == DataType::Uint32 || t == DataType::Sint32) ? 32 : 64;
        if (!isSigned) {
            if (neg && mag != 0) throw mismatch("negative");
            if (bits < 64 && mag > ((uint64_t(1) << bits) - 1)) throw mismatch("out of range");
            return std::to_string(mag);
        }
        uint64_t limitPos = (uint64_t(1) << (bits - 1)) - 1;
        if (mag > limitPos + (neg ? 1 : 0)) throw mismatch("out of range");
        if (!neg || mag == 0) return std::to_string(mag);
        return "-" + std::to_string(mag);
    }
    case DataType::Real32: case DataType::Real64: {
        if (text.empty()) throw mismatch("empty");
        if (text == "INF" || text == "+INF") return "INF";
        if (text == "-INF") return "-INF";
        if (text == "NaN") return "NaN";
        for (char c : text)
            if (!(isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
                throw mismatch("unexpected character");
        char* end = nullptr;
        errno = 0;
        double v = strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) throw mismatch("");
        if (errno == ERANGE && std::isinf(v)) throw mismatch("out of range");
        if (t == DataType::Real32 && std::fabs(v) > 3.402823466e38) throw mismatch("out of range");
        return formatReal(t, t == DataType::Real32 ? static_cast<double>(static_cast<float>(v)) : v);
    }
    case DataType::Char16: {
        if (text.empty()) throw mismatch("empty");
        unsigned char b = static_cast<unsigned char>(text[0]);
        size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (len != text.size() || len == 4) throw mismatch("must be one 16-bit character");
        if (b == 0) throw mismatch("NUL");
        return text;
    }
    case DataType::String:
        return text;
    case DataType::Datetime:
        if (!isValidDateTime(text)) throw mismatch("expected yyyymmddhhmmss.mmmmmm+utc or ddddddddhhmmss.mmmmmm:000");
        return text;
    default:
        throw mismatch("not a scalar text type");
    }
}

const Qualifier* findQualifier(const std::vector<Qualifier>& qs, const std::string& name) {
    for (const auto& q : qs)
        if (nameEq(q.name, name)) return &q;
    return nullptr;
}

bool qualifierIsTrue(const std::vector<Qualifier>& qs, const std::string& name) {
    const Qualifier* q = findQualifier(qs, name);
    return q && q->value.type == DataType::Boolean && !q->value.null && !q->value.isArray &&
           q->value.items.size() == 1 && q->value.items[0].text == "TRUE";
}

const Property* Class::findProperty(const std::string& n) const {
    for (const auto& p : properties)
        if (nameEq(p.name, n)) return &p;
    return nullptr;
}

const Method* Class::findMethod(const std::string& n) const {
    for (const auto& m : methods)
        if (nameEq(m.name, n)) return &m;
    return nullptr;
}

const Property* Instance::findProperty(const std::string& n) const {
    for (const auto& p : properties)
        if (nameEq(p.name, n)) return &p;
    return nullptr;
}

Property* Instance::findProperty(const std::string& n) {
    for (auto& p : properties)
        if (nameEq(p.name, n)) return &p;
    return nullptr;
}

}  // namespace minicimd
