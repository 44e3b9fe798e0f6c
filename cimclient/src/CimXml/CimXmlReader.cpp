// Reading CIM-XML: a recursive descent over the token list of XmlDocument.
#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMFlavor.h>
#include <Pegasus/Common/CIMMethod.h>
#include <Pegasus/Common/CIMParameter.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "CimXml/CimXml.h"
#include "Common/CIMObjectAccess.h"

using namespace Pegasus;

namespace orv {
namespace cimxml {

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

String toString(std::string_view s)
{
    return s.empty() ? String() : String(s.data(), static_cast<Uint32>(s.size()));
}

std::string quoted(std::string_view s)
{
    std::string out = "\"";
    out.append(s.substr(0, 64));
    if (s.size() > 64) out += "...";
    out += '"';
    return out;
}

// Integers: optional sign, then decimal digits or 0x and hex digits.
template <class T>
T parseInteger(std::string_view text)
{
    std::string_view s = trimmed(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.front() == '+' || s.front() == '-') {
        throw std::invalid_argument("not an integer: " + quoted(text));
    }
    unsigned long long magnitude = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (r.ec == std::errc::result_out_of_range)
        throw std::invalid_argument("integer out of range: " + quoted(text));
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        throw std::invalid_argument("not an integer: " + quoted(text));
    }
    if (std::numeric_limits<T>::is_signed) {
        using L = long long;
        unsigned long long maxPos = static_cast<unsigned long long>(std::numeric_limits<T>::max());
        unsigned long long maxNeg = maxPos + 1;
        if (negative ? magnitude > maxNeg : magnitude > maxPos) {
            throw std::invalid_argument("integer out of range: " + quoted(text));
        }
        if (negative) {
            if (magnitude == maxNeg) return std::numeric_limits<T>::min();
            return static_cast<T>(-static_cast<L>(magnitude));
        }
        return static_cast<T>(magnitude);
    }
    if ((negative && magnitude != 0) ||
        magnitude > static_cast<unsigned long long>(std::numeric_limits<T>::max())) {
        throw std::invalid_argument("integer out of range: " + quoted(text));
    }
    return static_cast<T>(magnitude);
}

template <class T>
T parseReal(std::string_view text)
{
    std::string_view s = trimmed(text);
    if (s == "NaN") return std::numeric_limits<T>::quiet_NaN();
    if (s == "INF" || s == "+INF") return std::numeric_limits<T>::infinity();
    if (s == "-INF") return -std::numeric_limits<T>::infinity();
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    T v{};
    if (s.empty() || s.front() == '+' || s.front() == 'n' || s.front() == 'N' || s.front() == 'i' ||
        s.front() == 'I') {
        throw std::invalid_argument("not a real number: " + quoted(text));
    }
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range)
        throw std::invalid_argument("real number out of range: " + quoted(text));
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        throw std::invalid_argument("not a real number: " + quoted(text));
    }
    return v;
}

Boolean parseBoolean(std::string_view text)
{
    std::string_view s = trimmed(text);
    if (equalNoCase(s, "true")) return true;
    if (equalNoCase(s, "false")) return false;
    throw std::invalid_argument("not a boolean: " + quoted(text));
}

Char16 parseChar16(std::string_view text)
{
    String s = toString(text);
    if (s.size() != 1) throw std::invalid_argument("not a single char16: " + quoted(text));
    return s[0];
}

CIMDateTime parseDateTime(std::string_view text)
{
    try {
        return CIMDateTime(toString(trimmed(text)));
    } catch (const Exception&) {
        throw std::invalid_argument("not a datetime: " + quoted(text));
    }
}

template <class T>
struct Scalar;
#define ORV_SCALAR(T, EXPR)                                    \
    template <>                                                \
    struct Scalar<T> {                                         \
        static T parse(std::string_view text) { return EXPR; } \
    }
ORV_SCALAR(Boolean, parseBoolean(text));
ORV_SCALAR(Uint8, parseInteger<Uint8>(text));
ORV_SCALAR(Sint8, parseInteger<Sint8>(text));
ORV_SCALAR(Uint16, parseInteger<Uint16>(text));
ORV_SCALAR(Sint16, parseInteger<Sint16>(text));
ORV_SCALAR(Uint32, parseInteger<Uint32>(text));
ORV_SCALAR(Sint32, parseInteger<Sint32>(text));
ORV_SCALAR(Uint64, parseInteger<Uint64>(text));
ORV_SCALAR(Sint64, parseInteger<Sint64>(text));
ORV_SCALAR(Real32, parseReal<Real32>(text));
ORV_SCALAR(Real64, parseReal<Real64>(text));
ORV_SCALAR(Char16, parseChar16(text));
ORV_SCALAR(String, toString(text));
ORV_SCALAR(CIMDateTime, parseDateTime(text));
#undef ORV_SCALAR

struct AttrSpec {
    const char* name;
};

class Reader {
public:
    // `names`: names met in earlier answers, and where to keep this one's.
    Reader(XmlCursor& c, NameCache& names) : c_(c), names_(names) {}

    // --- attributes -----------------------------------------------------
    CIMName nameAttr(const XmlToken& t, const char* attrName)
    {
        return toName(t, c_.requireAttribute(t, attrName));
    }

    CIMName optionalNameAttr(const XmlToken& t, const char* attrName)
    {
        const XmlAttribute* a = c_.findAttribute(t, attrName);
        if (a == nullptr) return CIMName();
        return toName(t, a->value);
    }

    CIMName toName(const XmlToken& t, std::string_view text)
    {
        if (const CIMName* known = names_.find(text)) return *known;
        CIMName n = makeName(t, text);
        names_.add(text, n);
        return n;
    }

    // Made where it is returned, so that no copy of the name (and of its
    // storage) is made on the way out.
    CIMName makeName(const XmlToken& t, std::string_view text)
    {
        String s = toString(text);
        if (!CIMName::legal(s)) {
            c_.failAt(t, "illegal CIM name " + quoted(text) + " in <" + std::string(t.name) + ">");
        }
        return CIMName(s);
    }

    bool boolAttr(const XmlToken& t, const char* attrName, bool fallback)
    {
        const XmlAttribute* a = c_.findAttribute(t, attrName);
        if (a == nullptr) return fallback;
        if (a->value == "true") return true;
        if (a->value == "false") return false;
        c_.failAt(t, std::string("attribute ") + attrName + " of <" + std::string(t.name) +
                         "> must be true or false, not " + quoted(a->value));
    }

    CIMType typeAttr(const XmlToken& t, const char* attrName)
    {
        std::string_view v = c_.requireAttribute(t, attrName);
        CIMType type;
        if (!typeFromName(v, type) || type == CIMTYPE_REFERENCE) {
            c_.failAt(t, "unknown CIM type " + quoted(v) + " in <" + std::string(t.name) + ">");
        }
        return type;
    }

    bool optionalTypeAttr(const XmlToken& t, const char* attrName, CIMType& type)
    {
        const XmlAttribute* a = c_.findAttribute(t, attrName);
        if (a == nullptr) return false;
        if (!typeFromName(a->value, type)) {
            c_.failAt(t, "unknown CIM type " + quoted(a->value) + " in <" + std::string(t.name) + ">");
        }
        return true;
    }

    Uint32 optionalArraySize(const XmlToken& t)
    {
        const XmlAttribute* a = c_.findAttribute(t, "ARRAYSIZE");
        if (a == nullptr) return 0;
        try {
            return parseInteger<Uint32>(a->value);
        } catch (const std::invalid_argument& e) {
            c_.failAt(t, std::string("ARRAYSIZE: ") + e.what());
        }
    }

    // --- values ----------------------------------------------------------
    template <class T>
    T scalarAt(const XmlToken& t, std::string_view text)
    {
        try {
            return Scalar<T>::parse(text);
        } catch (const std::invalid_argument& e) {
            throw XmlValueError(std::string(e.what()) + " in <" + std::string(t.name) + ">",
                                c_.positionOf(t));
        }
    }

    std::string_view readValueText()
    {
        c_.openElement("VALUE");
        std::string_view text = c_.readText("VALUE");
        c_.closeElement("VALUE");
        return text;
    }

    template <class T>
    void scalarValue(const XmlToken& t, std::string_view text, CIMValue& v)
    {
        v.set(scalarAt<T>(t, text));
    }

    void scalarOfType(CIMType type, const XmlToken& t, std::string_view text, CIMValue& v)
    {
        switch (type) {
            case CIMTYPE_BOOLEAN:
                return scalarValue<Boolean>(t, text, v);
            case CIMTYPE_UINT8:
                return scalarValue<Uint8>(t, text, v);
            case CIMTYPE_SINT8:
                return scalarValue<Sint8>(t, text, v);
            case CIMTYPE_UINT16:
                return scalarValue<Uint16>(t, text, v);
            case CIMTYPE_SINT16:
                return scalarValue<Sint16>(t, text, v);
            case CIMTYPE_UINT32:
                return scalarValue<Uint32>(t, text, v);
            case CIMTYPE_SINT32:
                return scalarValue<Sint32>(t, text, v);
            case CIMTYPE_UINT64:
                return scalarValue<Uint64>(t, text, v);
            case CIMTYPE_SINT64:
                return scalarValue<Sint64>(t, text, v);
            case CIMTYPE_REAL32:
                return scalarValue<Real32>(t, text, v);
            case CIMTYPE_REAL64:
                return scalarValue<Real64>(t, text, v);
            case CIMTYPE_CHAR16:
                return scalarValue<Char16>(t, text, v);
            case CIMTYPE_STRING:
                return scalarValue<String>(t, text, v);
            case CIMTYPE_DATETIME:
                return scalarValue<CIMDateTime>(t, text, v);
            default:
                break;
        }
        c_.failAt(t, std::string("a ") + cimTypeToString(type) + " value cannot be given as VALUE text");
    }

    // VALUE of a known type, into `v` (a property's own value, say).
    void readScalarInto(CIMType type, CIMValue& v)
    {
        const XmlToken& t = c_.openElement("VALUE");
        std::string_view text = c_.readText("VALUE");
        scalarOfType(type, t, text, v);
        c_.closeElement("VALUE");
    }

    CIMValue readScalar(CIMType type)
    {
        CIMValue v;
        readScalarInto(type, v);
        return v;
    }

    template <class T>
    CIMValue arrayOf()
    {
        Array<T> a;
        while (c_.atAnyStart()) {
            if (c_.atStart("VALUE.NULL")) c_.fail("null elements in arrays are not supported");
            const XmlToken& t = c_.openElement("VALUE");
            std::string_view text = c_.readText("VALUE");
            a.append(scalarAt<T>(t, text));
            c_.closeElement("VALUE");
        }
        return CIMValue(a);
    }

    // VALUE.ARRAY of a known type.
    CIMValue readArray(CIMType type)
    {
        const XmlToken& t = c_.openElement("VALUE.ARRAY");
        CIMValue v;
        switch (type) {
            case CIMTYPE_BOOLEAN:
                v = arrayOf<Boolean>();
                break;
            case CIMTYPE_UINT8:
                v = arrayOf<Uint8>();
                break;
            case CIMTYPE_SINT8:
                v = arrayOf<Sint8>();
                break;
            case CIMTYPE_UINT16:
                v = arrayOf<Uint16>();
                break;
            case CIMTYPE_SINT16:
                v = arrayOf<Sint16>();
                break;
            case CIMTYPE_UINT32:
                v = arrayOf<Uint32>();
                break;
            case CIMTYPE_SINT32:
                v = arrayOf<Sint32>();
                break;
            case CIMTYPE_UINT64:
                v = arrayOf<Uint64>();
                break;
            case CIMTYPE_SINT64:
                v = arrayOf<Sint64>();
                break;
            case CIMTYPE_REAL32:
                v = arrayOf<Real32>();
                break;
            case CIMTYPE_REAL64:
                v = arrayOf<Real64>();
                break;
            case CIMTYPE_CHAR16:
                v = arrayOf<Char16>();
                break;
            case CIMTYPE_STRING:
                v = arrayOf<String>();
                break;
            case CIMTYPE_DATETIME:
                v = arrayOf<CIMDateTime>();
                break;
            default:
                c_.failAt(
                    t, std::string("a ") + cimTypeToString(type) + " array cannot be given as VALUE.ARRAY");
        }
        c_.closeElement("VALUE.ARRAY");
        return v;
    }

    CIMValue readRefArray()
    {
        c_.openElement("VALUE.REFARRAY");
        Array<CIMObjectPath> a;
        while (c_.atAnyStart()) {
            if (c_.atStart("VALUE.NULL")) c_.fail("null elements in arrays are not supported");
            a.append(readValueReference());
        }
        c_.closeElement("VALUE.REFARRAY");
        return CIMValue(a);
    }

    // --- names and paths ---------------------------------------------------
    CIMNamespaceName readLocalNamespacePath()
    {
        const XmlToken& t = c_.openElement("LOCALNAMESPACEPATH");
        std::string joined;
        while (c_.atStart("NAMESPACE")) {
            const XmlToken& n = c_.openElement("NAMESPACE");
            if (!joined.empty()) joined += '/';
            joined.append(c_.requireAttribute(n, "NAME"));
            c_.readText("NAMESPACE");
            c_.closeElement("NAMESPACE");
        }
        if (joined.empty()) c_.failAt(t, "<LOCALNAMESPACEPATH> names no namespace");
        c_.closeElement("LOCALNAMESPACEPATH");
        String s = toString(joined);
        if (!CIMNamespaceName::legal(s)) c_.failAt(t, "illegal namespace name " + quoted(joined));
        return CIMNamespaceName(s);
    }

    void readNamespacePath(String& host, CIMNamespaceName& ns)
    {
        c_.openElement("NAMESPACEPATH");
        c_.openElement("HOST");
        host = toString(trimmed(c_.readText("HOST")));
        c_.closeElement("HOST");
        ns = readLocalNamespacePath();
        c_.closeElement("NAMESPACEPATH");
    }

    CIMName readClassName()
    {
        const XmlToken& t = c_.openElement("CLASSNAME");
        CIMName n = nameAttr(t, "NAME");
        c_.readText("CLASSNAME");
        c_.closeElement("CLASSNAME");
        return n;
    }

    CIMObjectPath readInstanceName()
    {
        CIMObjectPath p;
        readInstanceNameInto(p);
        return p;
    }

    // Fills `out` in place, its key bindings moved in rather than copied:
    // instance names come by the thousand, and every copy of a path copies
    // its strings.
    void readInstanceNameInto(CIMObjectPath& out)
    {
        const XmlToken& t = c_.openElement("INSTANCENAME");
        CIMName className = nameAttr(t, "CLASSNAME");
        Array<CIMKeyBinding> keys;
        while (c_.atAnyStart()) {
            if (!c_.atStart("KEYBINDING")) {
                c_.fail("expected <KEYBINDING> in <INSTANCENAME>, found <" + std::string(c_.peekName()) +
                        ">");
            }
            const XmlToken& kb = c_.openElement("KEYBINDING");
            CIMName keyName = nameAttr(kb, "NAME");
            String value;
            CIMKeyBinding::Type type = CIMKeyBinding::STRING;
            if (c_.atStart("KEYVALUE")) {
                const XmlToken& kv = c_.openElement("KEYVALUE");
                if (const XmlAttribute* vt = c_.findAttribute(kv, "VALUETYPE")) {
                    if (vt->value == "string")
                        type = CIMKeyBinding::STRING;
                    else if (vt->value == "boolean")
                        type = CIMKeyBinding::BOOLEAN;
                    else if (vt->value == "numeric")
                        type = CIMKeyBinding::NUMERIC;
                    else
                        c_.failAt(kv, "unknown VALUETYPE " + quoted(vt->value));
                }
                std::string_view text = c_.readText("KEYVALUE");
                if (type == CIMKeyBinding::BOOLEAN) scalarAt<Boolean>(kv, text);
                value = toString(text);
                c_.closeElement("KEYVALUE");
            } else if (c_.atStart("VALUE.REFERENCE")) {
                type = CIMKeyBinding::REFERENCE;
                value = readValueReference().toString();
            } else {
                c_.fail("expected <KEYVALUE> or <VALUE.REFERENCE> in <KEYBINDING>");
            }
            c_.closeElement("KEYBINDING");
            keys.append(CIMKeyBinding(keyName, value, type));
        }
        c_.closeElement("INSTANCENAME");
        CIMObjectAccess::setInstanceName(out, className, std::move(keys));
    }

    // The child of VALUE.REFERENCE (and of a few other places).
    CIMObjectPath readReferenceTarget()
    {
        std::string_view n = c_.peekName();
        String host;
        CIMNamespaceName ns;
        CIMObjectPath p;
        if (n == "INSTANCEPATH") {
            c_.openElement("INSTANCEPATH");
            readNamespacePath(host, ns);
            p = readInstanceName();
            c_.closeElement("INSTANCEPATH");
        } else if (n == "LOCALINSTANCEPATH") {
            c_.openElement("LOCALINSTANCEPATH");
            ns = readLocalNamespacePath();
            p = readInstanceName();
            c_.closeElement("LOCALINSTANCEPATH");
        } else if (n == "INSTANCENAME") {
            return readInstanceName();
        } else if (n == "CLASSPATH") {
            c_.openElement("CLASSPATH");
            readNamespacePath(host, ns);
            p = CIMObjectPath(String(), CIMNamespaceName(), readClassName());
            c_.closeElement("CLASSPATH");
        } else if (n == "LOCALCLASSPATH") {
            c_.openElement("LOCALCLASSPATH");
            ns = readLocalNamespacePath();
            p = CIMObjectPath(String(), CIMNamespaceName(), readClassName());
            c_.closeElement("LOCALCLASSPATH");
        } else if (n == "CLASSNAME") {
            return CIMObjectPath(String(), CIMNamespaceName(), readClassName());
        } else {
            c_.fail("expected an instance or class path, found " +
                    (n.empty() ? std::string("no element") : "<" + std::string(n) + ">"));
        }
        p.setNameSpace(ns);
        if (host.size() != 0) p.setHost(host);
        return p;
    }

    CIMObjectPath readValueReference()
    {
        c_.openElement("VALUE.REFERENCE");
        CIMObjectPath p = readReferenceTarget();
        c_.closeElement("VALUE.REFERENCE");
        return p;
    }

    // --- qualifiers and features --------------------------------------------
    // The object model refuses a second feature of the same name; that
    // refusal is the duplicate check (one scan, not two).
    template <class Add>
    void addOnce(std::uint32_t where, const char* what, const CIMName& name, Add add)
    {
        try {
            add();
        } catch (const AlreadyExistsException&) {
            throw XmlError(
                std::string(what) + " " + std::string(name.getString().getCString()) + " given twice",
                c_.positionAt(where));
        }
    }

    CIMQualifier readQualifier()
    {
        const XmlToken& t = c_.openElement("QUALIFIER");
        CIMName name = nameAttr(t, "NAME");
        CIMType type = typeAttr(t, "TYPE");
        bool propagated = boolAttr(t, "PROPAGATED", false);
        CIMFlavor flavor;
        if (boolAttr(t, "OVERRIDABLE", true))
            flavor.addFlavor(CIMFlavor::OVERRIDABLE);
        else
            flavor.addFlavor(CIMFlavor::DISABLEOVERRIDE);
        if (boolAttr(t, "TOSUBCLASS", true))
            flavor.addFlavor(CIMFlavor::TOSUBCLASS);
        else
            flavor.addFlavor(CIMFlavor::RESTRICTED);
        if (boolAttr(t, "TOINSTANCE", false)) flavor.addFlavor(CIMFlavor::TOINSTANCE);
        if (boolAttr(t, "TRANSLATABLE", false)) flavor.addFlavor(CIMFlavor::TRANSLATABLE);
        CIMValue value;
        if (c_.atStart("VALUE"))
            value = readScalar(type);
        else if (c_.atStart("VALUE.ARRAY"))
            value = readArray(type);
        else
            value.setNullValue(type, false);
        c_.closeElement("QUALIFIER");
        return CIMQualifier(name, value, flavor, propagated);
    }

    template <class T>
    void readQualifiersInto(T& owner)
    {
        while (c_.atStart("QUALIFIER")) {
            const std::uint32_t where = c_.offset();
            CIMQualifier q = readQualifier();
            addOnce(where, "qualifier", q.getName(), [&] { owner.addQualifier(q); });
        }
    }

    bool atProperty() const
    {
        return c_.atStart("PROPERTY") || c_.atStart("PROPERTY.ARRAY") || c_.atStart("PROPERTY.REFERENCE");
    }

    CIMProperty readProperty()
    {
        std::string_view element = c_.peekName();
        const XmlToken& t = c_.openAny();
        CIMName name = nameAttr(t, "NAME");
        CIMName classOrigin = optionalNameAttr(t, "CLASSORIGIN");
        bool propagated = boolAttr(t, "PROPAGATED", false);
        // Made with a null value of its type: qualifiers come before the
        // value, which is then read into the property itself.
        CIMProperty p;
        if (element == "PROPERTY.REFERENCE") {
            CIMName refClass = optionalNameAttr(t, "REFERENCECLASS");
            p = CIMObjectAccess::makeProperty(name, CIMTYPE_REFERENCE, false, 0, refClass, classOrigin,
                                              propagated);
            readQualifiersInto(p);
            if (c_.atStart("VALUE.REFERENCE")) p.setValue(CIMValue(readValueReference()));
        } else if (element == "PROPERTY.ARRAY") {
            CIMType type = typeAttr(t, "TYPE");
            Uint32 size = optionalArraySize(t);
            p = CIMObjectAccess::makeProperty(name, type, true, size, CIMName(), classOrigin, propagated);
            readQualifiersInto(p);
            if (c_.atStart("VALUE.ARRAY")) p.setValue(readArray(type));
        } else {
            CIMType type = typeAttr(t, "TYPE");
            p = CIMObjectAccess::makeProperty(name, type, false, 0, CIMName(), classOrigin, propagated);
            readQualifiersInto(p);
            if (c_.atStart("VALUE")) readScalarInto(type, CIMObjectAccess::valueOf(p));
        }
        c_.closeElement(element);
        return p;
    }

    template <class T>
    void readPropertiesInto(T& owner)
    {
        // An upper bound: what follows the qualifiers is properties, then a class's methods.
        CIMObjectAccess::reserveProperties(owner, static_cast<Uint32>(c_.countChildren()));
        while (atProperty()) {
            const std::uint32_t where = c_.offset();
            CIMProperty p = readProperty();
            addOnce(where, "property", p.getName(), [&] { owner.addProperty(p); });
        }
    }

    CIMParameter readParameter()
    {
        std::string_view element = c_.peekName();
        const XmlToken& t = c_.openAny();
        CIMName name = nameAttr(t, "NAME");
        CIMParameter p;
        if (element == "PARAMETER") {
            p = CIMParameter(name, typeAttr(t, "TYPE"));
        } else if (element == "PARAMETER.ARRAY") {
            p = CIMParameter(name, typeAttr(t, "TYPE"), true, optionalArraySize(t));
        } else if (element == "PARAMETER.REFERENCE") {
            p = CIMParameter(name, CIMTYPE_REFERENCE, false, 0, optionalNameAttr(t, "REFERENCECLASS"));
        } else if (element == "PARAMETER.REFARRAY") {
            p = CIMParameter(name, CIMTYPE_REFERENCE, true, optionalArraySize(t),
                             optionalNameAttr(t, "REFERENCECLASS"));
        } else {
            c_.failAt(t, "expected a parameter, found <" + std::string(element) + ">");
        }
        readQualifiersInto(p);
        c_.closeElement(element);
        return p;
    }

    CIMMethod readMethod()
    {
        const XmlToken& t = c_.openElement("METHOD");
        CIMName name = nameAttr(t, "NAME");
        CIMType type = CIMTYPE_UINT32;  // a method without TYPE returns nothing useful; keep it numeric
        optionalTypeAttr(t, "TYPE", type);
        CIMMethod m(name, type, optionalNameAttr(t, "CLASSORIGIN"), boolAttr(t, "PROPAGATED", false));
        readQualifiersInto(m);
        while (c_.atStart("PARAMETER") || c_.atStart("PARAMETER.ARRAY") ||
               c_.atStart("PARAMETER.REFERENCE") || c_.atStart("PARAMETER.REFARRAY")) {
            const std::uint32_t where = c_.offset();
            CIMParameter p = readParameter();
            addOnce(where, "parameter", p.getName(), [&] { m.addParameter(p); });
        }
        c_.closeElement("METHOD");
        return m;
    }

    CIMClass readClass()
    {
        const XmlToken& t = c_.openElement("CLASS");
        CIMClass cls(nameAttr(t, "NAME"), optionalNameAttr(t, "SUPERCLASS"));
        readQualifiersInto(cls);
        readPropertiesInto(cls);
        while (c_.atStart("METHOD")) {
            const std::uint32_t where = c_.offset();
            CIMMethod m = readMethod();
            addOnce(where, "method", m.getName(), [&] { cls.addMethod(m); });
        }
        c_.closeElement("CLASS");
        return cls;
    }

    CIMInstance readInstance()
    {
        const XmlToken& t = c_.openElement("INSTANCE");
        CIMInstance inst(nameAttr(t, "CLASSNAME"));
        readQualifiersInto(inst);
        readPropertiesInto(inst);
        c_.closeElement("INSTANCE");
        return inst;
    }

    CIMInstance readNamedInstance()
    {
        c_.openElement("VALUE.NAMEDINSTANCE");
        CIMObjectPath path = readInstanceName();
        CIMInstance inst = readInstance();
        inst.setPath(path);
        c_.closeElement("VALUE.NAMEDINSTANCE");
        return inst;
    }

    // VALUE.OBJECTWITHPATH: a class with its CLASSPATH or an instance with its INSTANCEPATH.
    void readObjectWithPath(CimResponse& r)
    {
        c_.openElement("VALUE.OBJECTWITHPATH");
        if (c_.atStart("CLASSPATH")) {
            CIMObjectPath path = readReferenceTarget();
            CIMClass cls = readClass();
            cls.setPath(path);
            r.classes.append(cls);
        } else {
            if (!c_.atStart("INSTANCEPATH"))
                c_.fail("expected <CLASSPATH> or <INSTANCEPATH> in <VALUE.OBJECTWITHPATH>");
            CIMObjectPath path = readReferenceTarget();
            CIMInstance inst = readInstance();
            inst.setPath(path);
            r.instances.append(inst);
        }
        c_.closeElement("VALUE.OBJECTWITHPATH");
    }

    // --- message frame ------------------------------------------------------
    void openMessage(const char* simple, std::string& messageId)
    {
        const XmlToken& cim = c_.openElement("CIM");
        std::string_view cimVersion = c_.requireAttribute(cim, "CIMVERSION");
        std::string_view dtdVersion = c_.requireAttribute(cim, "DTDVERSION");
        if (cimVersion.substr(0, 2) != "2.") c_.failAt(cim, "unsupported CIMVERSION " + quoted(cimVersion));
        if (dtdVersion.substr(0, 2) != "2.") c_.failAt(cim, "unsupported DTDVERSION " + quoted(dtdVersion));
        const XmlToken& msg = c_.openElement("MESSAGE");
        messageId = std::string(c_.requireAttribute(msg, "ID"));
        std::string_view protocol = c_.requireAttribute(msg, "PROTOCOLVERSION");
        if (protocol.substr(0, 2) != "1.") c_.failAt(msg, "unsupported PROTOCOLVERSION " + quoted(protocol));
        if (!c_.atStart(simple)) {
            std::string found =
                c_.atAnyStart() ? "<" + std::string(c_.peekName()) + ">" : std::string("nothing");
            c_.fail(std::string("expected <") + simple + ">, found " + found +
                    (c_.atStart("MULTIREQ") || c_.atStart("MULTIRSP")
                         ? " (multiple operations are not supported)"
                         : ""));
        }
        c_.openElement(simple);
        while (c_.atStart("CORRELATOR")) c_.skipElement();
    }

    void closeMessage(const char* simple)
    {
        c_.closeElement(simple);
        c_.closeElement("MESSAGE");
        c_.closeElement("CIM");
        if (!c_.atEnd()) c_.fail("content after </CIM>");
    }

    XmlCursor& cursor() { return c_; }

private:
    XmlCursor& c_;
    NameCache& names_;
};

// Content of an IPARAMVALUE (untyped values are strings).
void readIParamContent(Reader& rd, IParamValue& p)
{
    XmlCursor& c = rd.cursor();
    std::string_view n = c.peekName();
    if (n.empty()) {
        p.kind = IParamValue::Kind::Null;
    } else if (n == "VALUE") {
        p.kind = IParamValue::Kind::Value;
        p.value = CIMValue(toString(rd.readValueText()));
    } else if (n == "VALUE.ARRAY") {
        p.kind = IParamValue::Kind::ValueArray;
        p.value = rd.readArray(CIMTYPE_STRING);
    } else if (n == "VALUE.REFERENCE") {
        p.kind = IParamValue::Kind::ValueReference;
        p.path = rd.readValueReference();
    } else if (n == "CLASSNAME") {
        p.kind = IParamValue::Kind::ClassName;
        p.className = rd.readClassName();
    } else if (n == "INSTANCENAME") {
        p.kind = IParamValue::Kind::InstanceName;
        p.path = rd.readInstanceName();
    } else if (n == "CLASS") {
        p.kind = IParamValue::Kind::Class;
        p.cimClass = rd.readClass();
    } else if (n == "INSTANCE") {
        p.kind = IParamValue::Kind::Instance;
        p.instance = rd.readInstance();
    } else if (n == "VALUE.NAMEDINSTANCE") {
        p.kind = IParamValue::Kind::NamedInstance;
        p.instance = rd.readNamedInstance();
    } else {
        c.fail("unsupported <" + std::string(n) + "> in <IPARAMVALUE>");
    }
}

// A PARAMVALUE or RETURNVALUE value, typed by PARAMTYPE when present.
CIMValue readTypedContent(Reader& rd, bool typed, CIMType type)
{
    XmlCursor& c = rd.cursor();
    std::string_view n = c.peekName();
    if (n.empty()) return typed ? CIMValue(type, false) : CIMValue();
    if (n == "VALUE") return rd.readScalar(typed ? type : CIMTYPE_STRING);
    if (n == "VALUE.ARRAY") return rd.readArray(typed ? type : CIMTYPE_STRING);
    if (n == "VALUE.REFERENCE") return CIMValue(rd.readValueReference());
    if (n == "VALUE.REFARRAY") return rd.readRefArray();
    c.fail("unsupported <" + std::string(n) + "> in a parameter value");
}

CIMParamValue readParamValue(Reader& rd)
{
    XmlCursor& c = rd.cursor();
    const XmlToken& t = c.openElement("PARAMVALUE");
    std::string_view name = c.requireAttribute(t, "NAME");
    CIMType type = CIMTYPE_STRING;
    bool typed = rd.optionalTypeAttr(t, "PARAMTYPE", type);
    CIMValue v = readTypedContent(rd, typed, type);
    c.closeElement("PARAMVALUE");
    return CIMParamValue(toString(name), v, typed);
}

void readError(Reader& rd, CimResponse& r)
{
    XmlCursor& c = rd.cursor();
    const XmlToken& t = c.openElement("ERROR");
    std::string_view code = c.requireAttribute(t, "CODE");
    Uint32 n = rd.scalarAt<Uint32>(t, code);
    r.isError = true;
    if (const XmlAttribute* d = c.findAttribute(t, "DESCRIPTION")) r.errorDescription = toString(d->value);
    if (n <= CIM_ERR_SERVER_IS_SHUTTING_DOWN) {
        r.errorCode = static_cast<CIMStatusCode>(n);
    } else {
        // A code past the defined ones is no CIMStatusCode; it stays in the description.
        r.errorCode = CIM_ERR_FAILED;
        String known = r.errorDescription;
        r.errorDescription = String(("CIM status " + std::to_string(n)).c_str());
        if (known.size() != 0) r.errorDescription.append(String(": ")).append(known);
    }
    while (c.atStart("INSTANCE")) r.errorInstances.append(rd.readInstance());
    c.closeElement("ERROR");
}

void readIReturnValue(Reader& rd, CimResponse& r)
{
    XmlCursor& c = rd.cursor();
    c.openElement("IRETURNVALUE");
    r.hasReturnValue = true;
    std::string_view first = c.peekName();
    using K = CimResponse::ReturnKind;
    if (first.empty()) {
        r.kind = K::None;
    } else if (first == "CLASSNAME") {
        r.kind = K::ClassNames;
        r.classNames.reserveCapacity(static_cast<Uint32>(c.countChildren("CLASSNAME")));
        while (c.atStart("CLASSNAME")) r.classNames.append(rd.readClassName());
    } else if (first == "INSTANCENAME") {
        r.kind = K::InstanceNames;
        Uint32 n = static_cast<Uint32>(c.countChildren("INSTANCENAME"));
        r.instanceNames = Array<CIMObjectPath>(n);
        for (Uint32 i = 0; i < n; ++i) rd.readInstanceNameInto(r.instanceNames[i]);
    } else if (first == "CLASS") {
        r.kind = K::Classes;
        while (c.atStart("CLASS")) r.classes.append(rd.readClass());
    } else if (first == "INSTANCE") {
        r.kind = K::Instances;
        while (c.atStart("INSTANCE")) r.instances.append(rd.readInstance());
    } else if (first == "VALUE.NAMEDINSTANCE") {
        r.kind = K::NamedInstances;
        r.instances.reserveCapacity(static_cast<Uint32>(c.countChildren("VALUE.NAMEDINSTANCE")));
        while (c.atStart("VALUE.NAMEDINSTANCE")) r.instances.append(rd.readNamedInstance());
    } else if (first == "VALUE.OBJECTWITHPATH") {
        r.kind = K::ObjectsWithPath;
        while (c.atStart("VALUE.OBJECTWITHPATH")) rd.readObjectWithPath(r);
    } else if (first == "VALUE") {
        // The type of a property value is not on the wire; it comes as a string.
        r.kind = K::Value;
        r.value = CIMValue(toString(rd.readValueText()));
    } else if (first == "VALUE.ARRAY") {
        r.kind = K::Value;
        r.value = rd.readArray(CIMTYPE_STRING);
    } else if (first == "VALUE.REFERENCE") {
        r.kind = K::Value;
        r.value = CIMValue(rd.readValueReference());
    } else {
        c.fail("unsupported <" + std::string(first) + "> in <IRETURNVALUE>");
    }
    if (c.atAnyStart()) {
        c.fail("unexpected <" + std::string(c.peekName()) + "> after <" + std::string(first) +
               "> in <IRETURNVALUE>");
    }
    c.closeElement("IRETURNVALUE");
}

// Object-model exceptions (an illegal host, a value the model refuses) become
// reading errors at the current position.
template <class F>
auto withPositions(XmlCursor& c, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const XmlError&) {
        throw;
    } catch (const Exception& e) {
        c.fail(std::string(e.getMessage().getCString()));
    }
}

}  // namespace

// ---------------------------------------------------------------------------

bool typeFromName(std::string_view name, CIMType& type)
{
    // Lengths known at compile time: a mismatch costs a length and a first
    // letter compare, not a strlen per candidate (this runs once per property).
    static constexpr struct {
        std::string_view name;
        CIMType type;
    } kTypes[] = {
        {"string", CIMTYPE_STRING}, {"uint32", CIMTYPE_UINT32},     {"boolean", CIMTYPE_BOOLEAN},
        {"uint8", CIMTYPE_UINT8},   {"sint8", CIMTYPE_SINT8},       {"uint16", CIMTYPE_UINT16},
        {"sint16", CIMTYPE_SINT16}, {"sint32", CIMTYPE_SINT32},     {"uint64", CIMTYPE_UINT64},
        {"sint64", CIMTYPE_SINT64}, {"real32", CIMTYPE_REAL32},     {"real64", CIMTYPE_REAL64},
        {"char16", CIMTYPE_CHAR16}, {"datetime", CIMTYPE_DATETIME}, {"reference", CIMTYPE_REFERENCE}};
    if (name.empty()) return false;
    for (const auto& t : kTypes) {
        if (t.name.size() == name.size() && t.name[0] == name[0] && t.name == name) {
            type = t.type;
            return true;
        }
    }
    return false;
}

CIMValue parseScalar(CIMType type, std::string_view text)
{
    switch (type) {
        case CIMTYPE_BOOLEAN:
            return CIMValue(Scalar<Boolean>::parse(text));
        case CIMTYPE_UINT8:
            return CIMValue(Scalar<Uint8>::parse(text));
        case CIMTYPE_SINT8:
            return CIMValue(Scalar<Sint8>::parse(text));
        case CIMTYPE_UINT16:
            return CIMValue(Scalar<Uint16>::parse(text));
        case CIMTYPE_SINT16:
            return CIMValue(Scalar<Sint16>::parse(text));
        case CIMTYPE_UINT32:
            return CIMValue(Scalar<Uint32>::parse(text));
        case CIMTYPE_SINT32:
            return CIMValue(Scalar<Sint32>::parse(text));
        case CIMTYPE_UINT64:
            return CIMValue(Scalar<Uint64>::parse(text));
        case CIMTYPE_SINT64:
            return CIMValue(Scalar<Sint64>::parse(text));
        case CIMTYPE_REAL32:
            return CIMValue(Scalar<Real32>::parse(text));
        case CIMTYPE_REAL64:
            return CIMValue(Scalar<Real64>::parse(text));
        case CIMTYPE_CHAR16:
            return CIMValue(Scalar<Char16>::parse(text));
        case CIMTYPE_STRING:
            return CIMValue(Scalar<String>::parse(text));
        case CIMTYPE_DATETIME:
            return CIMValue(Scalar<CIMDateTime>::parse(text));
        default:
            break;
    }
    throw std::invalid_argument(std::string("a ") + cimTypeToString(type) + " value has no text form");
}

const IParamValue* CimRequest::findIParam(std::string_view name) const
{
    for (const auto& p : iparams) {
        if (equalNoCase(p.name, name)) return &p;
    }
    return nullptr;
}

bool iparamBoolean(const CimRequest& request, std::string_view name, bool fallback)
{
    const IParamValue* p = request.findIParam(name);
    if (p == nullptr || p->kind == IParamValue::Kind::Null) return fallback;
    if (p->kind != IParamValue::Kind::Value) {
        throw std::invalid_argument("parameter " + std::string(name) + " is not a boolean value");
    }
    String s;
    p->value.get(s);
    return Scalar<Boolean>::parse(std::string_view(static_cast<const char*>(s.getCString())));
}

namespace {

CimResponse readResponseIn(std::string_view body, XmlScratch* scratch, NameCache& names)
{
    XmlDocument doc = XmlDocument::parse(body.data(), body.size(), scratch);
    // What is read holds no views into the document, so its buffers can go back.
    struct Recycle {
        XmlDocument& doc;
        XmlScratch* scratch;
        ~Recycle()
        {
            if (scratch != nullptr) doc.recycle(*scratch);
        }
    } recycle{doc, scratch};
    XmlCursor c(doc);
    Reader rd(c, names);
    CimResponse r;
    withPositions(c, [&] {
        rd.openMessage("SIMPLERSP", r.messageId);
        const XmlToken* t;
        if (c.atStart("IMETHODRESPONSE")) {
            r.intrinsic = true;
            t = &c.openElement("IMETHODRESPONSE");
        } else {
            r.intrinsic = false;
            t = &c.openElement("METHODRESPONSE");
        }
        r.methodName = std::string(c.requireAttribute(*t, "NAME"));
        if (c.atStart("ERROR")) {
            readError(rd, r);
        } else if (r.intrinsic) {
            if (c.atStart("IRETURNVALUE")) readIReturnValue(rd, r);
            // Pull operations add PARAMVALUEs after the return value.
            while (c.atStart("PARAMVALUE")) r.outParams.append(readParamValue(rd));
        } else {
            if (c.atStart("RETURNVALUE")) {
                const XmlToken& rv = c.openElement("RETURNVALUE");
                CIMType type = CIMTYPE_STRING;
                bool typed = rd.optionalTypeAttr(rv, "PARAMTYPE", type);
                r.returnValue = readTypedContent(rd, typed, type);
                c.closeElement("RETURNVALUE");
            }
            while (c.atStart("PARAMVALUE")) r.outParams.append(readParamValue(rd));
        }
        c.closeElement(r.intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE");
        rd.closeMessage("SIMPLERSP");
    });
    return r;
}

}  // namespace

CimResponse readResponse(std::string_view body)
{
    NameCache names;
    return readResponseIn(body, nullptr, names);
}

CimResponse readResponse(std::string_view body, ReadScratch& scratch)
{
    return readResponseIn(body, &scratch.xml, scratch.names);
}

CimRequest readRequest(std::string_view body)
{
    CimRequest r;
    readRequest(body, r);
    return r;
}

void readRequest(std::string_view body, CimRequest& r)
{
    XmlDocument doc = XmlDocument::parse(body);
    XmlCursor c(doc);
    NameCache names;
    Reader rd(c, names);
    withPositions(c, [&] {
        rd.openMessage("SIMPLEREQ", r.messageId);
        if (c.atStart("IMETHODCALL")) {
            r.intrinsic = true;
            const XmlToken& t = c.openElement("IMETHODCALL");
            r.methodName = std::string(c.requireAttribute(t, "NAME"));
            r.nameSpace = rd.readLocalNamespacePath();
            while (c.atStart("IPARAMVALUE")) {
                const XmlToken& p = c.openElement("IPARAMVALUE");
                IParamValue v;
                v.name = std::string(c.requireAttribute(p, "NAME"));
                if (r.findIParam(v.name) != nullptr) c.failAt(p, "parameter " + v.name + " given twice");
                readIParamContent(rd, v);
                c.closeElement("IPARAMVALUE");
                r.iparams.push_back(std::move(v));
            }
            if (c.atStart("RESPONSEDESTINATION")) c.skipElement();
            c.closeElement("IMETHODCALL");
        } else {
            r.intrinsic = false;
            const XmlToken& t = c.openElement("METHODCALL");
            r.methodName = std::string(c.requireAttribute(t, "NAME"));
            if (c.atStart("LOCALINSTANCEPATH")) {
                c.openElement("LOCALINSTANCEPATH");
                r.nameSpace = rd.readLocalNamespacePath();
                r.target = rd.readInstanceName();
                c.closeElement("LOCALINSTANCEPATH");
            } else {
                c.openElement("LOCALCLASSPATH");
                r.nameSpace = rd.readLocalNamespacePath();
                r.target = CIMObjectPath(String(), CIMNamespaceName(), rd.readClassName());
                c.closeElement("LOCALCLASSPATH");
            }
            r.target.setNameSpace(r.nameSpace);
            while (c.atStart("PARAMVALUE")) r.params.append(readParamValue(rd));
            if (c.atStart("RESPONSEDESTINATION")) c.skipElement();
            c.closeElement("METHODCALL");
        }
        rd.closeMessage("SIMPLEREQ");
    });
}

const ExportParamValue* ExportRequest::findParam(std::string_view name) const
{
    for (const auto& p : params) {
        if (equalNoCase(p.name, name)) return &p;
    }
    return nullptr;
}

void readExportRequest(std::string_view body, ExportRequest& r)
{
    XmlDocument doc = XmlDocument::parse(body);
    XmlCursor c(doc);
    NameCache names;
    Reader rd(c, names);
    withPositions(c, [&] {
        rd.openMessage("SIMPLEEXPREQ", r.messageId);
        const XmlToken& t = c.openElement("EXPMETHODCALL");
        r.methodName = std::string(c.requireAttribute(t, "NAME"));
        r.params.clear();
        while (c.atStart("EXPPARAMVALUE")) {
            const XmlToken& p = c.openElement("EXPPARAMVALUE");
            ExportParamValue v;
            v.name = std::string(c.requireAttribute(p, "NAME"));
            if (r.findParam(v.name) != nullptr) c.failAt(p, "parameter " + v.name + " given twice");
            if (c.atStart("INSTANCE")) {
                v.hasInstance = true;
                v.instance = rd.readInstance();
            } else if (c.atAnyStart()) {
                c.fail("unsupported <" + std::string(c.peekName()) + "> in <EXPPARAMVALUE>");
            }
            c.closeElement("EXPPARAMVALUE");
            r.params.push_back(std::move(v));
        }
        c.closeElement("EXPMETHODCALL");
        rd.closeMessage("SIMPLEEXPREQ");
    });
}

ExportResponse readExportResponse(std::string_view body)
{
    XmlDocument doc = XmlDocument::parse(body);
    XmlCursor c(doc);
    NameCache names;
    Reader rd(c, names);
    ExportResponse r;
    withPositions(c, [&] {
        rd.openMessage("SIMPLEEXPRSP", r.messageId);
        const XmlToken& t = c.openElement("EXPMETHODRESPONSE");
        r.methodName = std::string(c.requireAttribute(t, "NAME"));
        if (c.atStart("ERROR")) {
            CimResponse err;
            readError(rd, err);
            r.isError = true;
            r.errorCode = err.errorCode;
            r.errorDescription = err.errorDescription;
        } else if (c.atStart("IRETURNVALUE")) {
            c.openElement("IRETURNVALUE");
            if (c.atAnyStart()) c.skipElement();  // an export returns nothing we use
            c.closeElement("IRETURNVALUE");
        }
        c.closeElement("EXPMETHODRESPONSE");
        rd.closeMessage("SIMPLEEXPRSP");
    });
    return r;
}

}  // namespace cimxml
}  // namespace orv
