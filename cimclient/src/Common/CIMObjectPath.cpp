// Object paths and their model-path text:
//   [//host/]namespace:]Class[.key=value{,key=value}]
// Values: "text" (a string, or a reference when the text itself parses as a path
// with keys; '"' and '\' escaped by '\'), TRUE/FALSE (any case), or an integer
// (decimal, or hex with 0x).  Key bindings are kept sorted by name.
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/Exception.h>

#include "CIMObjectAccess.h"
#include <arpa/inet.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

PEGASUS_NAMESPACE_BEGIN

namespace {
// A quoted key value is tried as a nested path only this many levels deep;
// deeper text stays a string.  (Each level doubles the escapes, so real paths
// never come near it.)
const int kMaxReferenceDepth = 16;

// ( nonzero-digit *digit | "0" ) or ( "0x" | "0X" ) 1*hexdigit, within 64 bits.
bool parseUnsigned(const char* p, Uint64& x)
{
    x = 0;
    if (!p || !*p) return false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        if (!*p) return false;
        for (; *p; p++) {
            if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
            if (x >> 60) return false;
            const int d = std::isdigit(static_cast<unsigned char>(*p))
                              ? *p - '0'
                              : std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10;
            x = (x << 4) | Uint64(d);
        }
        return true;
    }
    if (p[0] == '0') return p[1] == '\0';
    for (; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        const Uint64 d = Uint64(*p - '0');
        if (x > (~Uint64(0) - d) / 10) return false;
        x = x * 10 + d;
    }
    return true;
}

// An optional sign, then as parseUnsigned, within the signed 64-bit range.
bool parseSigned(const char* p, Sint64& x)
{
    x = 0;
    if (!p) return false;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    Uint64 u;
    if (!parseUnsigned(p, u)) return false;
    const Uint64 limit = negative ? (Uint64(1) << 63) : (Uint64(1) << 63) - 1;
    if (u > limit) return false;
    x = negative ? Sint64(0 - u) : Sint64(u);
    return true;
}

bool isValidIPv4(const std::string& s)
{
    in_addr a;
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

bool isValidIPv6(const std::string& s)
{
    in6_addr a;
    return inet_pton(AF_INET6, s.c_str(), &a) == 1;
}

// Labels of letters, digits, '-' and '_' (each starting with a letter, digit or
// '_') separated by '.'; the last label must not be all digits.
bool isValidHostName(const std::string& s)
{
    std::size_t i = 0;
    bool lastNumeric = true;
    for (;;) {
        if (i >= s.size() || !(std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) return false;
        lastNumeric = true;
        while (i < s.size() &&
               (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '_')) {
            if (!std::isdigit(static_cast<unsigned char>(s[i]))) lastNumeric = false;
            i++;
        }
        if (i < s.size() && s[i] == '.') {
            i++;
            continue;
        }
        break;
    }
    return i == s.size() && !lastNumeric;
}

// host, IPv4 address or [IPv6 address], optionally followed by :port.
bool isValidHost(const String& host)
{
    CString c = host.getCString();
    std::string s(static_cast<const char*>(c));
    if (s.empty() || s.size() != std::strlen(c)) return false;
    std::string name = s;
    std::string port;
    if (s[0] == '[') {
        const std::size_t close = s.find(']');
        if (close == std::string::npos) return false;
        if (!isValidIPv6(s.substr(1, close - 1))) return false;
        if (close + 1 == s.size()) return true;
        if (s[close + 1] != ':') return false;
        port = s.substr(close + 2);
        name.clear();
    } else {
        const std::size_t colon = s.find(':');
        if (colon != std::string::npos) {
            name = s.substr(0, colon);
            port = s.substr(colon + 1);
        }
    }
    if (!name.empty() || s[0] != '[') {
        bool dotsAndDigits = !name.empty() && name.find_first_not_of("0123456789.") == std::string::npos;
        if (dotsAndDigits ? !isValidIPv4(name) : !isValidHostName(name)) return false;
    }
    if (s.find(':') != std::string::npos && s[0] != '[' && port.empty()) return false;
    if (!port.empty() || (s[0] == '[' && s.find("]:") != std::string::npos)) {
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (std::strtoul(port.c_str(), nullptr, 10) > 65535) return false;
    }
    return true;
}

[[noreturn]] void malformed(const String& objectName, const char* reason)
{
    throw MalformedObjectNameException(objectName + String(", reason:\"") + String(reason) + String("\""));
}

[[noreturn]] void malformed(const String& objectName, const char* reason, const String& detail)
{
    throw MalformedObjectNameException(objectName + String(", reason:\"") + String(reason) + detail +
                                       String("\""));
}

String escapeSpecialCharacters(const String& str)
{
    String result;
    result.reserveCapacity(str.size());
    for (Uint32 i = 0, n = str.size(); i < n; i++) {
        const Char16 c = str[i];
        if (c == '\\' || c == '"') result.append(Char16('\\'));
        result.append(c);
    }
    return result;
}

void parsePath(const String& objectName, int depth, String& host, CIMNamespaceName& nameSpace,
               CIMName& className, Array<CIMKeyBinding>& keyBindings);

void sortKeyBindings(Array<CIMKeyBinding>& x, int depth);

// A quoted value is a reference when it parses as a path with at least one key.
bool looksLikeReference(const String& value, const std::string& utf8, int depth)
{
    if (depth >= kMaxReferenceDepth || utf8.find('=') == std::string::npos) return false;
    try {
        String host;
        CIMNamespaceName ns;
        CIMName cls;
        Array<CIMKeyBinding> keys;
        parsePath(value, depth + 1, host, ns, cls, keys);
        return keys.size() > 0;
    } catch (const Exception&) {
        return false;
    }
}

void parseKeyBindings(const String& objectName, const char*& p, int depth, Array<CIMKeyBinding>& keyBindings)
{
    while (*p) {
        const char* equalsign = std::strchr(p, '=');
        if (!equalsign) malformed(objectName, "invalid key-value pair, missing equal sign");
        const String keyText(p, Uint32(equalsign - p));
        if (!CIMName::legal(keyText))
            malformed(objectName, "invalid key-value pair, invalid key name:", keyText);
        const CIMName keyName(keyText);

        p = equalsign + 1;
        String valueString;
        CIMKeyBinding::Type type;

        if (*p == '"') {
            p++;
            std::string raw;
            while (*p && *p != '"') {
                if (*p == '\\') {
                    p++;
                    if (*p != '\\' && *p != '"')
                        malformed(objectName, "invalid key-value pair, malformed value");
                }
                raw += *p++;
            }
            if (*p != '"') malformed(objectName, "invalid key-value pair, missing quote in key value");
            p++;
            valueString = String(raw.data(), Uint32(raw.size()));
            type = looksLikeReference(valueString, raw, depth) ? CIMKeyBinding::REFERENCE
                                                               : CIMKeyBinding::STRING;
        } else if (std::toupper(static_cast<unsigned char>(*p)) == 'T' ||
                   std::toupper(static_cast<unsigned char>(*p)) == 'F') {
            type = CIMKeyBinding::BOOLEAN;
            std::string word;
            while (*p && *p != ',') word += char(std::toupper(static_cast<unsigned char>(*p++)));
            if (word != "TRUE" && word != "FALSE")
                malformed(objectName, "invalid key-value pair, value should be TRUE or FALSE");
            valueString = String(word.c_str());
        } else {
            type = CIMKeyBinding::NUMERIC;
            std::string number;
            while (*p && *p != ',') number += *p++;
            if (number[0] == '-') {
                Sint64 x;
                if (!parseSigned(number.c_str(), x))
                    malformed(objectName, "invalid key-value pair, invalid negative number value ",
                              String(number.data(), Uint32(number.size())));
            } else {
                Uint64 x;
                if (!parseUnsigned(number.c_str(), x))
                    malformed(objectName, "invalid key-value pair, invalid number value ",
                              String(number.data(), Uint32(number.size())));
            }
            valueString = String(number.c_str());
        }

        keyBindings.append(CIMKeyBinding(keyName, valueString, type));

        if (*p) {
            if (*p++ != ',')
                malformed(objectName, "invalid key-value pair, next key-value pair has to start with comma");
        }
    }
    sortKeyBindings(keyBindings, depth);
}

void parsePath(const String& objectName, int depth, String& host, CIMNamespaceName& nameSpace,
               CIMName& className, Array<CIMKeyBinding>& keyBindings)
{
    const CString text = objectName.getCString();
    const char* p = text;
    // A NUL code unit would end the UTF-8 text early and hide the rest.
    if (std::strlen(p) != std::strlen(text) || objectName.find(Char16(0)) != PEG_NOT_FOUND)
        malformed(objectName, "contains a NUL character");

    bool gotHost = false;
    if (p[0] == '/' && p[1] == '/') {
        p += 2;
        const char* slash = std::strchr(p, '/');
        if (!slash) malformed(objectName, "missing slash after hostname");
        const String hostname(p, Uint32(slash - p));
        if (!isValidHost(hostname)) malformed(objectName, "invalid hostname");
        host = hostname;
        // The '/' after the host is part of the namespace element, as the
        // reference reads it (so "//h//root:C" has namespace "/root" -> "root").
        p = slash;
        gotHost = true;
    }

    bool gotNamespace = false;
    const char* colon = std::strchr(p, ':');
    const char* dot = std::strchr(p, '.');
    // A ':' after the first '.' belongs to a key value, not to a namespace.
    if (colon && !(dot && dot < colon)) {
        const String ns(p, Uint32(colon - p));
        if (!CIMNamespaceName::legal(ns)) malformed(objectName, "invalid namespace name");
        nameSpace = CIMNamespaceName(ns);
        p = colon + 1;
        gotNamespace = true;
    }

    if (gotHost && !gotNamespace) malformed(objectName, "host specified, missing namespace");

    dot = std::strchr(p, '.');
    const String cls = dot ? String(p, Uint32(dot - p)) : String(p);
    if (!CIMName::legal(cls))
        throw MalformedObjectNameException(objectName + String(", reason:\"class name ") + cls +
                                           String(" not a legal CIM name\""));
    className = CIMName(cls);
    if (!dot) return;
    p = dot + 1;
    parseKeyBindings(objectName, p, depth, keyBindings);
}

// References inside keys are rewritten in their own sorted form, so that equal
// paths print alike.
void sortKeyBindings(Array<CIMKeyBinding>& x, int depth)
{
    for (Uint32 k = 0; k < x.size(); k++) {
        if (x[k].getType() == CIMKeyBinding::REFERENCE && depth < kMaxReferenceDepth) {
            String host;
            CIMNamespaceName ns;
            CIMName cls;
            Array<CIMKeyBinding> keys;
            parsePath(x[k].getValue(), depth + 1, host, ns, cls, keys);
            x[k].setValue(CIMObjectPath(host, ns, cls, keys).toString());
        }
    }
    // Paths usually come with one key, or with their keys in order already.
    bool sorted = true;
    for (Uint32 k = 1; k < x.size() && sorted; k++)
        sorted = String::compareNoCase(x[k - 1].getName().getString(), x[k].getName().getString()) <= 0;
    if (sorted) return;
    std::vector<CIMKeyBinding> v;
    v.reserve(x.size());
    for (Uint32 k = 0; k < x.size(); k++) v.push_back(x[k]);
    std::stable_sort(v.begin(), v.end(), [](const CIMKeyBinding& a, const CIMKeyBinding& b) {
        return String::compareNoCase(a.getName().getString(), b.getName().getString()) < 0;
    });
    for (Uint32 k = 0; k < x.size(); k++) x[k] = v[k];
}

void appendCanonical(const CIMObjectPath& path, String& out);
}  // namespace

// ---------------------------------------------------------------------------
// CIMKeyBinding

CIMKeyBinding::CIMKeyBinding() : _type(BOOLEAN) {}

CIMKeyBinding::CIMKeyBinding(const CIMKeyBinding& x) : _name(x._name), _value(x._value), _type(x._type) {}

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const String& value, Type type)
    : _name(name), _value(value), _type(type)
{}

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const CIMValue& value) : _name(name)
{
    if (value.isArray()) throw TypeMismatchException();
    switch (value.getType()) {
        case CIMTYPE_BOOLEAN:
            _type = BOOLEAN;
            break;
        case CIMTYPE_CHAR16:
        case CIMTYPE_STRING:
        case CIMTYPE_DATETIME:
            _type = STRING;
            break;
        case CIMTYPE_REFERENCE:
            _type = REFERENCE;
            break;
        case CIMTYPE_OBJECT:
        case CIMTYPE_INSTANCE:
            // Embedded objects cannot be keys.
            throw TypeMismatchException();
        default:
            _type = NUMERIC;
            break;
    }
    _value = value.toString();
}

CIMKeyBinding::~CIMKeyBinding() {}

CIMKeyBinding& CIMKeyBinding::operator=(const CIMKeyBinding& x)
{
    _name = x._name;
    _value = x._value;
    _type = x._type;
    return *this;
}

const CIMName& CIMKeyBinding::getName() const
{
    return _name;
}
void CIMKeyBinding::setName(const CIMName& name)
{
    _name = name;
}
const String& CIMKeyBinding::getValue() const
{
    return _value;
}
void CIMKeyBinding::setValue(const String& value)
{
    _value = value;
}
CIMKeyBinding::Type CIMKeyBinding::getType() const
{
    return _type;
}
void CIMKeyBinding::setType(Type type)
{
    _type = type;
}

Boolean CIMKeyBinding::equal(CIMValue value)
{
    if (value.isArray() || value.isNull()) return false;
    try {
        const CString text = _value.getCString();
        switch (value.getType()) {
            case CIMTYPE_CHAR16:
                return _type == STRING && _value.size() == 1 && value == CIMValue(_value[0]);
            case CIMTYPE_DATETIME:
                return _type == STRING && value == CIMValue(CIMDateTime(_value));
            case CIMTYPE_STRING:
                return _type == STRING && value == CIMValue(_value);
            case CIMTYPE_REFERENCE:
                return _type == REFERENCE && value == CIMValue(CIMObjectPath(_value));
            case CIMTYPE_BOOLEAN: {
                if (_type != BOOLEAN) return false;
                Boolean b;
                value.get(b);
                return String::equalNoCase(_value, b ? "TRUE" : "FALSE");
            }
            case CIMTYPE_OBJECT:
            case CIMTYPE_INSTANCE:
                return false;
            default: {
                if (_type != NUMERIC) return false;
                const CString other = value.toString().getCString();
                Uint64 a, b;
                if (parseUnsigned(text, a) && parseUnsigned(other, b)) return a == b;
                Sint64 sa, sb;
                if (parseSigned(text, sa) && parseSigned(other, sb)) return sa == sb;
                return String::equal(_value, value.toString());
            }
        }
    } catch (const Exception&) {
        return false;
    }
}

Boolean operator==(const CIMKeyBinding& x, const CIMKeyBinding& y)
{
    if (!x.getName().equal(y.getName()) || x.getType() != y.getType()) return false;
    switch (x.getType()) {
        case CIMKeyBinding::REFERENCE:
            try {
                return CIMObjectPath(x.getValue()) == CIMObjectPath(y.getValue());
            } catch (const Exception&) {
                return String::equal(x.getValue(), y.getValue());
            }
        case CIMKeyBinding::BOOLEAN:
            return String::equalNoCase(x.getValue(), y.getValue());
        case CIMKeyBinding::NUMERIC: {
            const CString a = x.getValue().getCString(), b = y.getValue().getCString();
            Uint64 ua, ub;
            if (parseUnsigned(a, ua) && parseUnsigned(b, ub)) return ua == ub;
            Sint64 sa, sb;
            if (parseSigned(a, sa) && parseSigned(b, sb)) return sa == sb;
            return String::equal(x.getValue(), y.getValue());
        }
        default:
            return String::equal(x.getValue(), y.getValue());
    }
}

// ---------------------------------------------------------------------------
// CIMObjectPath

CIMObjectPath::CIMObjectPath() {}

CIMObjectPath::CIMObjectPath(const CIMObjectPath& x)
    : _host(x._host), _nameSpace(x._nameSpace), _className(x._className), _keyBindings(x._keyBindings)
{}

CIMObjectPath::CIMObjectPath(const String& objectName)
{
    set(objectName);
}

CIMObjectPath::CIMObjectPath(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                             const Array<CIMKeyBinding>& keyBindings)
{
    set(host, nameSpace, className, keyBindings);
}

CIMObjectPath::~CIMObjectPath() {}

CIMObjectPath& CIMObjectPath::operator=(const CIMObjectPath& x)
{
    _host = x._host;
    _nameSpace = x._nameSpace;
    _className = x._className;
    _keyBindings = x._keyBindings;
    return *this;
}

CIMObjectPath& CIMObjectPath::operator=(const String& objectName)
{
    set(objectName);
    return *this;
}

void CIMObjectPath::clear()
{
    _host.clear();
    _nameSpace.clear();
    _className.clear();
    _keyBindings.clear();
}

void CIMObjectAccess::setInstanceName(CIMObjectPath& path, const CIMName& className,
                                      Array<CIMKeyBinding>&& keys)
{
    sortKeyBindings(keys, 0);
    path._host.clear();
    path._nameSpace.clear();
    path._className = className;
    path._keyBindings = std::move(keys);
}

void CIMObjectPath::set(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                        const Array<CIMKeyBinding>& keyBindings)
{
    if (host.size() && !isValidHost(host))
        throw MalformedObjectNameException(host + String(", reason:\"invalid hostname\""));
    Array<CIMKeyBinding> sorted(keyBindings);
    sortKeyBindings(sorted, 0);
    _host = host;
    _nameSpace = nameSpace;
    _className = className;
    _keyBindings.swap(sorted);
}

void CIMObjectPath::set(const String& objectName)
{
    // Parse into temporaries so that a bad text leaves this path unchanged.
    String host;
    CIMNamespaceName ns;
    CIMName cls;
    Array<CIMKeyBinding> keys;
    parsePath(objectName, 0, host, ns, cls, keys);
    _host = host;
    _nameSpace = ns;
    _className = cls;
    _keyBindings.swap(keys);
}

String CIMObjectPath::toString() const
{
    String objectName;
    if (_host.size()) {
        objectName.append(String("//"));
        objectName.append(_host);
        objectName.append(Char16('/'));
    }
    if (!_nameSpace.isNull() || _host.size()) {
        objectName.append(_nameSpace.getString());
        objectName.append(Char16(':'));
    }
    objectName.append(_className.getString());
    for (Uint32 i = 0, n = _keyBindings.size(); i < n; i++) {
        const CIMKeyBinding& kb = _keyBindings[i];
        objectName.append(Char16(i == 0 ? '.' : ','));
        objectName.append(kb.getName().getString());
        objectName.append(Char16('='));
        const bool quoted = kb.getType() == CIMKeyBinding::STRING || kb.getType() == CIMKeyBinding::REFERENCE;
        if (quoted) objectName.append(Char16('"'));
        objectName.append(escapeSpecialCharacters(kb.getValue()));
        if (quoted) objectName.append(Char16('"'));
    }
    return objectName;
}

const String& CIMObjectPath::getHost() const
{
    return _host;
}

void CIMObjectPath::setHost(const String& host)
{
    if (host.size() && !isValidHost(host))
        throw MalformedObjectNameException(host + String(", reason:\"invalid hostname\""));
    _host = host;
}

const CIMNamespaceName& CIMObjectPath::getNameSpace() const
{
    return _nameSpace;
}
void CIMObjectPath::setNameSpace(const CIMNamespaceName& nameSpace)
{
    _nameSpace = nameSpace;
}
const CIMName& CIMObjectPath::getClassName() const
{
    return _className;
}
void CIMObjectPath::setClassName(const CIMName& className)
{
    _className = className;
}
const Array<CIMKeyBinding>& CIMObjectPath::getKeyBindings() const
{
    return _keyBindings;
}

void CIMObjectPath::setKeyBindings(const Array<CIMKeyBinding>& keyBindings)
{
    Array<CIMKeyBinding> sorted(keyBindings);
    sortKeyBindings(sorted, 0);
    _keyBindings.swap(sorted);
}

Boolean CIMObjectPath::identical(const CIMObjectPath& x) const
{
    return String::equalNoCase(_host, x._host) && _nameSpace.equal(x._nameSpace) &&
           _className.equal(x._className) && _keyBindings == x._keyBindings;
}

namespace {
// Lower-case names, numbers in decimal, references canonical: equal paths give
// equal text.
void appendCanonical(const CIMObjectPath& path, String& out)
{
    String s = path.getHost();
    s.toLower();
    out.append(s);
    out.append(Char16('/'));
    s = path.getNameSpace().getString();
    s.toLower();
    out.append(s);
    out.append(Char16(':'));
    s = path.getClassName().getString();
    s.toLower();
    out.append(s);
    const Array<CIMKeyBinding>& keys = path.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); i++) {
        out.append(Char16(i ? ',' : '.'));
        s = keys[i].getName().getString();
        s.toLower();
        out.append(s);
        out.append(Char16('='));
        String v = keys[i].getValue();
        switch (keys[i].getType()) {
            case CIMKeyBinding::REFERENCE:
                try {
                    String inner;
                    appendCanonical(CIMObjectPath(v), inner);
                    v = inner;
                } catch (const Exception&) {
                }
                break;
            case CIMKeyBinding::BOOLEAN:
                v.toLower();
                break;
            case CIMKeyBinding::NUMERIC: {
                const CString c = v.getCString();
                Uint64 u;
                Sint64 sv;
                char buffer[32];
                if (parseUnsigned(c, u)) {
                    std::snprintf(buffer, sizeof buffer, "%llu", u);
                    v = String(buffer);
                } else if (parseSigned(c, sv)) {
                    std::snprintf(buffer, sizeof buffer, "%lld", sv);
                    v = String(buffer);
                }
                break;
            }
            default:
                break;
        }
        out.append(escapeSpecialCharacters(v));
    }
}
}  // namespace

Uint32 CIMObjectPath::makeHashCode() const
{
    String canonical;
    appendCanonical(*this, canonical);
    Uint32 h = 0;
    for (Uint32 i = 0; i < canonical.size(); i++) h = h * 31 + Uint16(canonical[i]);
    return h;
}

Boolean operator==(const CIMObjectPath& x, const CIMObjectPath& y)
{
    return x.identical(y);
}

Boolean operator!=(const CIMObjectPath& x, const CIMObjectPath& y)
{
    return !x.identical(y);
}

PEGASUS_NAMESPACE_END
