#include "repo/CimValues.h"

#include "CimXml/CimXml.h"

#include <Pegasus/Common/CIMDateTime.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

using namespace Pegasus;

namespace minicimd {

const char* cimStatusName(int code)
{
    switch (code) {
        case 0:
            return "CIM_ERR_SUCCESS";
        case 1:
            return "CIM_ERR_FAILED";
        case 2:
            return "CIM_ERR_ACCESS_DENIED";
        case 3:
            return "CIM_ERR_INVALID_NAMESPACE";
        case 4:
            return "CIM_ERR_INVALID_PARAMETER";
        case 5:
            return "CIM_ERR_INVALID_CLASS";
        case 6:
            return "CIM_ERR_NOT_FOUND";
        case 7:
            return "CIM_ERR_NOT_SUPPORTED";
        case 8:
            return "CIM_ERR_CLASS_HAS_CHILDREN";
        case 9:
            return "CIM_ERR_CLASS_HAS_INSTANCES";
        case 10:
            return "CIM_ERR_INVALID_SUPERCLASS";
        case 11:
            return "CIM_ERR_ALREADY_EXISTS";
        case 12:
            return "CIM_ERR_NO_SUCH_PROPERTY";
        case 13:
            return "CIM_ERR_TYPE_MISMATCH";
        case 14:
            return "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED";
        case 15:
            return "CIM_ERR_INVALID_QUERY";
        case 16:
            return "CIM_ERR_METHOD_NOT_AVAILABLE";
        case 17:
            return "CIM_ERR_METHOD_NOT_FOUND";
        case 20:
            return "CIM_ERR_NAMESPACE_NOT_EMPTY";
        case 21:
            return "CIM_ERR_INVALID_ENUMERATION_CONTEXT";
        case 22:
            return "CIM_ERR_INVALID_OPERATION_TIMEOUT";
        case 23:
            return "CIM_ERR_PULL_HAS_BEEN_ABANDONED";
        case 24:
            return "CIM_ERR_PULL_CANNOT_BE_ABANDONED";
        case 25:
            return "CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED";
        case 26:
            return "CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED";
        case 27:
            return "CIM_ERR_SERVER_LIMITS_EXCEEDED";
        case 28:
            return "CIM_ERR_SERVER_IS_SHUTTING_DOWN";
        default:
            return "CIM_ERR_UNKNOWN";
    }
}

bool nameEq(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string lowerName(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string str(const String& s)
{
    return std::string(static_cast<const char*>(s.getCString()));
}
std::string str(const CIMName& n)
{
    return str(n.getString());
}

CIMType cimTypeOf(DataType t)
{
    switch (t) {
        case DataType::Boolean:
            return CIMTYPE_BOOLEAN;
        case DataType::Uint8:
            return CIMTYPE_UINT8;
        case DataType::Sint8:
            return CIMTYPE_SINT8;
        case DataType::Uint16:
            return CIMTYPE_UINT16;
        case DataType::Sint16:
            return CIMTYPE_SINT16;
        case DataType::Uint32:
            return CIMTYPE_UINT32;
        case DataType::Sint32:
            return CIMTYPE_SINT32;
        case DataType::Uint64:
            return CIMTYPE_UINT64;
        case DataType::Sint64:
            return CIMTYPE_SINT64;
        case DataType::Real32:
            return CIMTYPE_REAL32;
        case DataType::Real64:
            return CIMTYPE_REAL64;
        case DataType::Char16:
            return CIMTYPE_CHAR16;
        case DataType::String:
            return CIMTYPE_STRING;
        case DataType::Datetime:
            return CIMTYPE_DATETIME;
        case DataType::Reference:
            return CIMTYPE_REFERENCE;
        case DataType::Object:
            return CIMTYPE_OBJECT;
        case DataType::Instance:
            return CIMTYPE_INSTANCE;
    }
    return CIMTYPE_STRING;
}

static DataType dataTypeOf(CIMType t)
{
    switch (t) {
        case CIMTYPE_BOOLEAN:
            return DataType::Boolean;
        case CIMTYPE_UINT8:
            return DataType::Uint8;
        case CIMTYPE_SINT8:
            return DataType::Sint8;
        case CIMTYPE_UINT16:
            return DataType::Uint16;
        case CIMTYPE_SINT16:
            return DataType::Sint16;
        case CIMTYPE_UINT32:
            return DataType::Uint32;
        case CIMTYPE_SINT32:
            return DataType::Sint32;
        case CIMTYPE_UINT64:
            return DataType::Uint64;
        case CIMTYPE_SINT64:
            return DataType::Sint64;
        case CIMTYPE_REAL32:
            return DataType::Real32;
        case CIMTYPE_REAL64:
            return DataType::Real64;
        case CIMTYPE_CHAR16:
            return DataType::Char16;
        case CIMTYPE_STRING:
            return DataType::String;
        case CIMTYPE_DATETIME:
            return DataType::Datetime;
        case CIMTYPE_REFERENCE:
            return DataType::Reference;
        case CIMTYPE_OBJECT:
            return DataType::Object;
        case CIMTYPE_INSTANCE:
            return DataType::Instance;
    }
    return DataType::String;
}

const char* typeNameOf(CIMType t)
{
    return mof::dataTypeName(dataTypeOf(t));
}

std::string formatReal(DataType t, double v)
{
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    char buf[64];
    snprintf(buf, sizeof buf, t == DataType::Real32 ? "%.8e" : "%.16e", v);
    return buf;
}

bool isValidDateTime(const std::string& s)
{
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

std::string canonicalScalar(DataType t, const std::string& textIn)
{
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
        case DataType::Uint8:
        case DataType::Uint16:
        case DataType::Uint32:
        case DataType::Uint64:
        case DataType::Sint8:
        case DataType::Sint16:
        case DataType::Sint32:
        case DataType::Sint64: {
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
                if (c >= '0' && c <= '9')
                    d = static_cast<unsigned>(c - '0');
                else if (base == 16 && c >= 'a' && c <= 'f')
                    d = static_cast<unsigned>(c - 'a' + 10);
                else if (base == 16 && c >= 'A' && c <= 'F')
                    d = static_cast<unsigned>(c - 'A' + 10);
                else
                    throw mismatch("unexpected character");
                if (mag > (UINT64_MAX - d) / base) throw mismatch("out of range");
                mag = mag * base + d;
            }
            bool isSigned = t == DataType::Sint8 || t == DataType::Sint16 || t == DataType::Sint32 ||
                            t == DataType::Sint64;
            int bits = (t == DataType::Uint8 || t == DataType::Sint8)     ? 8
                       : (t == DataType::Uint16 || t == DataType::Sint16) ? 16
                       : (t == DataType::Uint32 || t == DataType::Sint32) ? 32
                                                                          : 64;
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
        case DataType::Real32:
        case DataType::Real64: {
            if (text.empty()) throw mismatch("empty");
            if (text == "INF" || text == "+INF") return "INF";
            if (text == "-INF") return "-INF";
            if (text == "NaN") return "NaN";
            for (char c : text)
                if (!(isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
                      c == '+' || c == '-'))
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
            if (!isValidDateTime(text))
                throw mismatch("expected yyyymmddhhmmss.mmmmmm+utc or ddddddddhhmmss.mmmmmm:000");
            return text;
        default:
            throw mismatch("not a scalar text type");
    }
}

namespace {

CIMObjectPath parsePath(const std::string& text, const std::string& what)
{
    try {
        return CIMObjectPath(String(text.c_str()));
    } catch (const Exception& e) {
        throw CimError(kCimTypeMismatch,
                       what + ": '" + text + "' is not an object path (" + str(e.getMessage()) + ")");
    }
}

template <class T>
CIMValue arrayOf(CIMType type, const std::vector<std::string>& texts)
{
    Array<T> a;
    a.reserveCapacity(static_cast<Uint32>(texts.size()));
    for (const auto& t : texts) {
        T x;
        orv::cimxml::parseScalar(type, t).get(x);
        a.append(x);
    }
    return CIMValue(a);
}

}  // namespace

// The text of one element, unescaped (valueText gives XML-escaped text).
static std::string plainText(const CIMValue& v, Uint32 i)
{
    if (v.getType() == CIMTYPE_STRING) {
        String s;
        if (v.isArray()) {
            Array<String> a;
            v.get(a);
            s = a[i];
        } else {
            v.get(s);
        }
        return str(s);
    }
    if (v.getType() == CIMTYPE_CHAR16) {
        Char16 c;
        if (v.isArray()) {
            Array<Char16> a;
            v.get(a);
            c = a[i];
        } else {
            v.get(c);
        }
        Char16 one[2] = {c, Char16(0)};
        return str(String(one));
    }
    return orv::cimxml::valueText(v, i);
}

CIMValue valueFromTexts(CIMType type, bool isArray, const std::vector<std::string>& texts,
                        const std::string& what)
{
    try {
        if (type == CIMTYPE_REFERENCE) {
            if (!isArray) return CIMValue(parsePath(texts.at(0), what));
            Array<CIMObjectPath> a;
            for (const auto& t : texts) a.append(parsePath(t, what));
            return CIMValue(a);
        }
        if (!isArray) return orv::cimxml::parseScalar(type, texts.at(0));
        switch (type) {
            case CIMTYPE_BOOLEAN:
                return arrayOf<Boolean>(type, texts);
            case CIMTYPE_UINT8:
                return arrayOf<Uint8>(type, texts);
            case CIMTYPE_SINT8:
                return arrayOf<Sint8>(type, texts);
            case CIMTYPE_UINT16:
                return arrayOf<Uint16>(type, texts);
            case CIMTYPE_SINT16:
                return arrayOf<Sint16>(type, texts);
            case CIMTYPE_UINT32:
                return arrayOf<Uint32>(type, texts);
            case CIMTYPE_SINT32:
                return arrayOf<Sint32>(type, texts);
            case CIMTYPE_UINT64:
                return arrayOf<Uint64>(type, texts);
            case CIMTYPE_SINT64:
                return arrayOf<Sint64>(type, texts);
            case CIMTYPE_REAL32:
                return arrayOf<Real32>(type, texts);
            case CIMTYPE_REAL64:
                return arrayOf<Real64>(type, texts);
            case CIMTYPE_CHAR16:
                return arrayOf<Char16>(type, texts);
            case CIMTYPE_STRING:
                return arrayOf<String>(type, texts);
            case CIMTYPE_DATETIME:
                return arrayOf<CIMDateTime>(type, texts);
            default:
                break;
        }
    } catch (const std::invalid_argument& e) {
        throw CimError(kCimTypeMismatch, what + ": " + e.what());
    } catch (const std::out_of_range&) {
        throw CimError(kCimTypeMismatch, what + " has no value");
    } catch (const Exception& e) {
        throw CimError(kCimTypeMismatch, what + ": " + str(e.getMessage()));
    }
    throw CimError(kCimTypeMismatch,
                   what + " is of type " + typeNameOf(type) + ", which this server does not hold");
}

std::string elementText(const CIMValue& v, Uint32 i)
{
    if (v.getType() == CIMTYPE_REFERENCE) {
        CIMObjectPath p;
        if (v.isArray()) {
            Array<CIMObjectPath> a;
            v.get(a);
            p = a[i];
        } else {
            v.get(p);
        }
        return str(p.toString());
    }
    return plainText(v, i);
}

bool sameValue(const CIMValue& a, const CIMValue& b)
{
    if (a.getType() != b.getType() || a.isArray() != b.isArray() || a.isNull() != b.isNull()) return false;
    if (a.isNull()) return true;
    Uint32 n = a.isArray() ? a.getArraySize() : 1;
    if (n != (b.isArray() ? b.getArraySize() : 1)) return false;
    bool ref = a.getType() == CIMTYPE_REFERENCE;
    for (Uint32 i = 0; i < n; ++i) {
        std::string x = elementText(a, i), y = elementText(b, i);
        if (ref ? lowerName(x) != lowerName(y) : x != y) return false;
    }
    return true;
}

CIMValue coerceValue(CIMType type, bool isArray, const CIMValue& in, bool typed, const std::string& what)
{
    if (in.isNull()) return CIMValue(type, isArray);
    if (in.isArray() != isArray)
        throw CimError(kCimTypeMismatch, what + (isArray ? " is an array" : " is not an array"));
    DataType dt = dataTypeOf(type);
    if (in.getType() == CIMTYPE_REFERENCE) {
        if (type != CIMTYPE_REFERENCE)
            throw CimError(kCimTypeMismatch, what + " is " + mof::dataTypeName(dt) + ", not a reference");
        return in;
    }
    if (typed && in.getType() != type)
        throw CimError(kCimTypeMismatch,
                       what + " is " + mof::dataTypeName(dt) + ", not " + typeNameOf(in.getType()));
    // Canonical texts first: they check ranges and spellings the way the
    // repository's messages describe them.
    std::vector<std::string> texts;
    Uint32 n = in.isArray() ? in.getArraySize() : 1;
    for (Uint32 i = 0; i < n; ++i) {
        std::string t = plainText(in, i);
        if (type == CIMTYPE_REFERENCE) {
            texts.push_back(t);
            continue;
        }
        try {
            texts.push_back(canonicalScalar(dt, t));
        } catch (const CimError& e) {
            throw CimError(kCimTypeMismatch, what + ": " + e.what());
        }
    }
    if (in.getType() == type && type != CIMTYPE_REAL32 && type != CIMTYPE_REAL64) return in;
    return valueFromTexts(type, isArray, texts, what);
}

}  // namespace minicimd
