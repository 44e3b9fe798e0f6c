// Writing CIM-XML: values, names, paths, objects and whole messages.
#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMFlavor.h>
#include <Pegasus/Common/CIMMethod.h>
#include <Pegasus/Common/CIMParameter.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "CimXml/CimXml.h"

using namespace Pegasus;

namespace orv {
namespace cimxml {

namespace {

const char kXmlDecl[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";

void appendUtf8(std::string& out, Uint32 cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Escapes one code point.  Tab, line feed and carriage return become
// character references so that XML's end-of-line and attribute
// normalisation cannot change them on the way.
void appendEscapedCodePoint(std::string& out, Uint32 cp)
{
    switch (cp) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += "&quot;";
            return;
        case '\'':
            out += "&apos;";
            return;
        case '\t':
            out += "&#9;";
            return;
        case '\n':
            out += "&#10;";
            return;
        case '\r':
            out += "&#13;";
            return;
        default:
            break;
    }
    if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
        throw EncodeError(std::string("text holds ") + buf + ", which XML 1.0 cannot carry");
    }
    appendUtf8(out, cp);
}

void attr(std::string& out, const char* name, const String& value)
{
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

void attr(std::string& out, const char* name, std::string_view value)
{
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, value);
    out += '"';
}

template <class T>
void appendInteger(std::string& out, T v)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

template <class T>
void appendReal(std::string& out, T v, int precision)
{
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-INF" : "INF";
        return;
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
    out.append(buf, r.ptr);
}

template <class T>
T elementAt(const CIMValue& v, Uint32 index)
{
    if (v.isArray()) {
        Array<T> a;
        v.get(a);
        return a[index];
    }
    T x;
    v.get(x);
    return x;
}

void appendScalarText(std::string& out, const CIMValue& v, Uint32 index)
{
    switch (v.getType()) {
        case CIMTYPE_BOOLEAN:
            out += elementAt<Boolean>(v, index) ? "TRUE" : "FALSE";
            return;
        case CIMTYPE_UINT8:
            appendInteger(out, static_cast<unsigned>(elementAt<Uint8>(v, index)));
            return;
        case CIMTYPE_SINT8:
            appendInteger(out, static_cast<int>(elementAt<Sint8>(v, index)));
            return;
        case CIMTYPE_UINT16:
            appendInteger(out, elementAt<Uint16>(v, index));
            return;
        case CIMTYPE_SINT16:
            appendInteger(out, elementAt<Sint16>(v, index));
            return;
        case CIMTYPE_UINT32:
            appendInteger(out, elementAt<Uint32>(v, index));
            return;
        case CIMTYPE_SINT32:
            appendInteger(out, elementAt<Sint32>(v, index));
            return;
        case CIMTYPE_UINT64:
            appendInteger(out, elementAt<Uint64>(v, index));
            return;
        case CIMTYPE_SINT64:
            appendInteger(out, elementAt<Sint64>(v, index));
            return;
        // Enough digits that reading the text back gives the same number.
        case CIMTYPE_REAL32:
            appendReal(out, elementAt<Real32>(v, index), 8);
            return;
        case CIMTYPE_REAL64:
            appendReal(out, elementAt<Real64>(v, index), 16);
            return;
        case CIMTYPE_CHAR16: {
            Char16 c = elementAt<Char16>(v, index);
            appendEscapedCodePoint(out, Uint16(c));
            return;
        }
        case CIMTYPE_STRING:
            appendEscaped(out, elementAt<String>(v, index));
            return;
        case CIMTYPE_DATETIME:
            appendEscaped(out, elementAt<CIMDateTime>(v, index).toString());
            return;
        default:
            break;
    }
    throw EncodeError(std::string("a ") + cimTypeToString(v.getType()) +
                      " value cannot be written as VALUE text");
}

void writeNamespaceElements(std::string& out, const CIMNamespaceName& ns)
{
    const String& s = ns.getString();
    Uint32 start = 0;
    for (Uint32 i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == Char16('/')) {
            if (i > start) {
                out += "<NAMESPACE NAME=\"";
                appendEscaped(out, s.subString(start, i - start));
                out += "\"/>";
            }
            start = i + 1;
        }
    }
}

void writeLocalNamespacePath(std::string& out, const CIMNamespaceName& ns)
{
    out += "<LOCALNAMESPACEPATH>";
    writeNamespaceElements(out, ns);
    out += "</LOCALNAMESPACEPATH>";
}

void writeNamespacePath(std::string& out, const String& host, const CIMNamespaceName& ns)
{
    out += "<NAMESPACEPATH><HOST>";
    appendEscaped(out, host);
    out += "</HOST>";
    writeLocalNamespacePath(out, ns);
    out += "</NAMESPACEPATH>";
}

void writeClassName(std::string& out, const CIMName& name)
{
    out += "<CLASSNAME";
    attr(out, "NAME", name.getString());
    out += "/>";
}

void writeFlavorAttributes(std::string& out, const CIMFlavor& f)
{
    // Only what differs from the defaults (overridable, to subclass).
    if (!f.hasFlavor(CIMFlavor::OVERRIDABLE)) out += " OVERRIDABLE=\"false\"";
    if (!f.hasFlavor(CIMFlavor::TOSUBCLASS)) out += " TOSUBCLASS=\"false\"";
    if (f.hasFlavor(CIMFlavor::TOINSTANCE)) out += " TOINSTANCE=\"true\"";
    if (f.hasFlavor(CIMFlavor::TRANSLATABLE)) out += " TRANSLATABLE=\"true\"";
}

}  // namespace

void writeQualifier(std::string& out, const CIMConstQualifier& q)
{
    out += "<QUALIFIER";
    attr(out, "NAME", q.getName().getString());
    attr(out, "TYPE", std::string_view(typeName(q.getType())));
    if (q.getPropagated()) out += " PROPAGATED=\"true\"";
    writeFlavorAttributes(out, q.getFlavor());
    out += '>';
    writeValueElement(out, q.getValue());
    out += "</QUALIFIER>";
}

namespace {

template <class T>
void writeQualifiers(std::string& out, const T& owner)
{
    for (Uint32 i = 0; i < owner.getQualifierCount(); ++i) writeQualifier(out, owner.getQualifier(i));
}

const char* propertyElement(const CIMConstProperty& p)
{
    return p.getType() == CIMTYPE_REFERENCE ? "PROPERTY.REFERENCE"
           : p.isArray()                    ? "PROPERTY.ARRAY"
                                            : "PROPERTY";
}

void writeProperty(std::string& out, const CIMConstProperty& p)
{
    writePropertyStart(out, p);
    writeQualifiers(out, p);
    writeValueElement(out, p.getValue());
    writePropertyEnd(out, p);
}

void writeParameter(std::string& out, const CIMConstParameter& p)
{
    const char* element;
    bool ref = p.getType() == CIMTYPE_REFERENCE;
    if (ref)
        element = p.isArray() ? "PARAMETER.REFARRAY" : "PARAMETER.REFERENCE";
    else
        element = p.isArray() ? "PARAMETER.ARRAY" : "PARAMETER";
    out += '<';
    out += element;
    attr(out, "NAME", p.getName().getString());
    if (ref) {
        if (!p.getReferenceClassName().isNull())
            attr(out, "REFERENCECLASS", p.getReferenceClassName().getString());
    } else {
        attr(out, "TYPE", std::string_view(typeName(p.getType())));
    }
    if (p.isArray() && p.getArraySize() != 0) {
        out += " ARRAYSIZE=\"";
        appendInteger(out, p.getArraySize());
        out += '"';
    }
    out += '>';
    writeQualifiers(out, p);
    out += "</";
    out += element;
    out += '>';
}

void writeMethod(std::string& out, const CIMConstMethod& m)
{
    out += "<METHOD";
    attr(out, "NAME", m.getName().getString());
    attr(out, "TYPE", std::string_view(typeName(m.getType())));
    if (!m.getClassOrigin().isNull()) attr(out, "CLASSORIGIN", m.getClassOrigin().getString());
    if (m.getPropagated()) out += " PROPAGATED=\"true\"";
    out += '>';
    writeQualifiers(out, m);
    for (Uint32 i = 0; i < m.getParameterCount(); ++i) writeParameter(out, m.getParameter(i));
    out += "</METHOD>";
}

void writeNamedInstance(std::string& out, const CIMConstInstance& inst)
{
    out += "<VALUE.NAMEDINSTANCE>";
    writeInstanceName(out, inst.getPath());
    writeInstance(out, inst);
    out += "</VALUE.NAMEDINSTANCE>";
}

// The path of an object as VALUE.OBJECTWITHPATH needs it.
void writeObjectWithPath(std::string& out, const CIMObjectPath& path, const CIMConstClass* cls,
                         const CIMConstInstance* inst)
{
    out += "<VALUE.OBJECTWITHPATH>";
    if (cls != nullptr) {
        out += "<CLASSPATH>";
        writeNamespacePath(out, path.getHost(), path.getNameSpace());
        writeClassName(out, path.getClassName());
        out += "</CLASSPATH>";
        writeClass(out, *cls);
    } else {
        out += "<INSTANCEPATH>";
        writeNamespacePath(out, path.getHost(), path.getNameSpace());
        writeInstanceName(out, path);
        out += "</INSTANCEPATH>";
        writeInstance(out, *inst);
    }
    out += "</VALUE.OBJECTWITHPATH>";
}

void writeParamValue(std::string& out, const CIMParamValue& pv)
{
    out += "<PARAMVALUE";
    attr(out, "NAME", pv.getParameterName());
    CIMValue v = pv.getValue();
    if (pv.isTyped() || !v.isNull()) {
        if (v.getType() == CIMTYPE_INSTANCE || v.getType() == CIMTYPE_OBJECT) {
            throw EncodeError("embedded object parameter values are not supported");
        }
        attr(out, "PARAMTYPE", std::string_view(typeName(v.getType())));
    }
    out += '>';
    writeValueElement(out, v);
    out += "</PARAMVALUE>";
}

void writeIParamValue(std::string& out, const IParamValue& p)
{
    out += "<IPARAMVALUE";
    attr(out, "NAME", std::string_view(p.name));
    out += '>';
    switch (p.kind) {
        case IParamValue::Kind::Null:
            break;
        case IParamValue::Kind::Value:
        case IParamValue::Kind::ValueArray:
            writeValueElement(out, p.value);
            break;
        case IParamValue::Kind::ValueReference:
            writeValueReference(out, p.path);
            break;
        case IParamValue::Kind::ClassName:
            writeClassName(out, p.className);
            break;
        case IParamValue::Kind::InstanceName:
            writeInstanceName(out, p.path);
            break;
        case IParamValue::Kind::Class:
            writeClass(out, p.cimClass);
            break;
        case IParamValue::Kind::Instance:
            writeInstance(out, p.instance);
            break;
        case IParamValue::Kind::NamedInstance:
            writeNamedInstance(out, p.instance);
            break;
    }
    out += "</IPARAMVALUE>";
}

void openMessage(std::string& out, const std::string& id, const char* simple)
{
    out += kXmlDecl;
    out += "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE";
    attr(out, "ID", std::string_view(id));
    out += " PROTOCOLVERSION=\"1.0\">\n<";
    out += simple;
    out += ">\n";
}

void closeMessage(std::string& out, const char* simple)
{
    out += "</";
    out += simple;
    out += ">\n</MESSAGE>\n</CIM>\n";
}

}  // namespace

// ---------------------------------------------------------------------------

const char* typeName(CIMType type)
{
    switch (type) {
        case CIMTYPE_BOOLEAN:
            return "boolean";
        case CIMTYPE_UINT8:
            return "uint8";
        case CIMTYPE_SINT8:
            return "sint8";
        case CIMTYPE_UINT16:
            return "uint16";
        case CIMTYPE_SINT16:
            return "sint16";
        case CIMTYPE_UINT32:
            return "uint32";
        case CIMTYPE_SINT32:
            return "sint32";
        case CIMTYPE_UINT64:
            return "uint64";
        case CIMTYPE_SINT64:
            return "sint64";
        case CIMTYPE_REAL32:
            return "real32";
        case CIMTYPE_REAL64:
            return "real64";
        case CIMTYPE_CHAR16:
            return "char16";
        case CIMTYPE_STRING:
            return "string";
        case CIMTYPE_DATETIME:
            return "datetime";
        case CIMTYPE_REFERENCE:
            return "reference";
        case CIMTYPE_OBJECT:
            return "object";
        case CIMTYPE_INSTANCE:
            return "instance";
    }
    return "string";
}

inline bool plainAscii(Uint32 c)
{
    return c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
}

void appendEscaped(std::string& out, const String& text)
{
    const Char16* d = text.getChar16Data();
    Uint32 n = text.size();
    for (Uint32 i = 0; i < n; ++i) {
        // Runs of plain ASCII, which need no escaping, go over in one piece.
        Uint32 run = i;
        while (run < n && plainAscii(Uint16(d[run]))) ++run;
        if (run > i) {
            const std::size_t at = out.size();
            out.resize(at + (run - i));
            char* w = &out[at];
            for (Uint32 k = i; k < run; ++k) *w++ = static_cast<char>(Uint16(d[k]));
            i = run;
            if (i == n) break;
        }
        Uint32 c = Uint16(d[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
            Uint32 lo = Uint16(d[i + 1]);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        appendEscapedCodePoint(out, c);
    }
}

void appendEscaped(std::string& out, std::string_view utf8)
{
    // Works on bytes: multi-byte sequences pass through unchanged; only the
    // ASCII specials and control characters need attention.
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80 && (c < 0x20 || c == '&' || c == '<' || c == '>' || c == '"' || c == '\'')) {
            appendEscapedCodePoint(out, c);
        } else {
            out.push_back(ch);
        }
    }
}

std::string valueText(const CIMValue& value, Uint32 index)
{
    std::string out;
    appendScalarText(out, value, index);
    return out;
}

void writeValueElement(std::string& out, const CIMValue& v)
{
    if (v.isNull()) return;
    if (v.getType() == CIMTYPE_REFERENCE) {
        if (v.isArray()) {
            Array<CIMObjectPath> a;
            v.get(a);
            out += "<VALUE.REFARRAY>";
            for (Uint32 i = 0; i < a.size(); ++i) writeValueReference(out, a[i]);
            out += "</VALUE.REFARRAY>";
        } else {
            CIMObjectPath p;
            v.get(p);
            writeValueReference(out, p);
        }
        return;
    }
    if (v.getType() == CIMTYPE_OBJECT || v.getType() == CIMTYPE_INSTANCE) {
        throw EncodeError("embedded object values are not supported");
    }
    if (v.isArray()) {
        out += "<VALUE.ARRAY>";
        for (Uint32 i = 0; i < v.getArraySize(); ++i) {
            out += "<VALUE>";
            appendScalarText(out, v, i);
            out += "</VALUE>";
        }
        out += "</VALUE.ARRAY>";
        return;
    }
    out += "<VALUE>";
    appendScalarText(out, v, 0);
    out += "</VALUE>";
}

void writeInstanceName(std::string& out, const CIMObjectPath& path)
{
    out += "<INSTANCENAME";
    attr(out, "CLASSNAME", path.getClassName().getString());
    out += '>';
    const Array<CIMKeyBinding>& keys = path.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); ++i) {
        const CIMKeyBinding& k = keys[i];
        out += "<KEYBINDING";
        attr(out, "NAME", k.getName().getString());
        out += '>';
        if (k.getType() == CIMKeyBinding::REFERENCE) {
            CIMObjectPath ref;
            try {
                ref = CIMObjectPath(k.getValue());
            } catch (const Exception& e) {
                throw EncodeError("reference key " + std::string(k.getName().getString().getCString()) +
                                  " is not an object path: " + std::string(e.getMessage().getCString()));
            }
            writeValueReference(out, ref);
        } else {
            out += "<KEYVALUE VALUETYPE=\"";
            out += k.getType() == CIMKeyBinding::BOOLEAN   ? "boolean"
                   : k.getType() == CIMKeyBinding::NUMERIC ? "numeric"
                                                           : "string";
            out += "\">";
            appendEscaped(out, k.getValue());
            out += "</KEYVALUE>";
        }
        out += "</KEYBINDING>";
    }
    out += "</INSTANCENAME>";
}

void writeValueReference(std::string& out, const CIMObjectPath& path)
{
    out += "<VALUE.REFERENCE>";
    bool isClass = path.getKeyBindings().size() == 0;
    bool hasNs = !path.getNameSpace().isNull() && path.getNameSpace().getString().size() != 0;
    bool hasHost = path.getHost().size() != 0;
    if (hasHost && hasNs) {
        out += isClass ? "<CLASSPATH>" : "<INSTANCEPATH>";
        writeNamespacePath(out, path.getHost(), path.getNameSpace());
        if (isClass)
            writeClassName(out, path.getClassName());
        else
            writeInstanceName(out, path);
        out += isClass ? "</CLASSPATH>" : "</INSTANCEPATH>";
    } else if (hasNs) {
        out += isClass ? "<LOCALCLASSPATH>" : "<LOCALINSTANCEPATH>";
        writeLocalNamespacePath(out, path.getNameSpace());
        if (isClass)
            writeClassName(out, path.getClassName());
        else
            writeInstanceName(out, path);
        out += isClass ? "</LOCALCLASSPATH>" : "</LOCALINSTANCEPATH>";
    } else if (isClass) {
        writeClassName(out, path.getClassName());
    } else {
        writeInstanceName(out, path);
    }
    out += "</VALUE.REFERENCE>";
}

void writeInstance(std::string& out, const CIMConstInstance& inst)
{
    out += "<INSTANCE";
    attr(out, "CLASSNAME", inst.getClassName().getString());
    out += '>';
    writeQualifiers(out, inst);
    for (Uint32 i = 0; i < inst.getPropertyCount(); ++i) writeProperty(out, inst.getProperty(i));
    out += "</INSTANCE>";
}

void writeClass(std::string& out, const CIMConstClass& cls)
{
    out += "<CLASS";
    attr(out, "NAME", cls.getClassName().getString());
    if (!cls.getSuperClassName().isNull()) attr(out, "SUPERCLASS", cls.getSuperClassName().getString());
    out += '>';
    writeQualifiers(out, cls);
    for (Uint32 i = 0; i < cls.getPropertyCount(); ++i) writeProperty(out, cls.getProperty(i));
    for (Uint32 i = 0; i < cls.getMethodCount(); ++i) writeMethod(out, cls.getMethod(i));
    out += "</CLASS>";
}

void writePropertyStart(std::string& out, const CIMConstProperty& p)
{
    if (p.getType() == CIMTYPE_REFERENCE && p.isArray()) {
        throw EncodeError("reference array property " + std::string(p.getName().getString().getCString()) +
                          " cannot be written");
    }
    out += '<';
    out += propertyElement(p);
    attr(out, "NAME", p.getName().getString());
    // Attribute order as OpenPegasus writes it: a plain property puts its
    // origin before its type, arrays and references after.
    auto origin = [&] {
        if (!p.getClassOrigin().isNull()) attr(out, "CLASSORIGIN", p.getClassOrigin().getString());
        if (p.getPropagated()) out += " PROPAGATED=\"true\"";
    };
    if (p.getType() == CIMTYPE_REFERENCE) {
        if (!p.getReferenceClassName().isNull())
            attr(out, "REFERENCECLASS", p.getReferenceClassName().getString());
        origin();
    } else if (p.isArray()) {
        attr(out, "TYPE", std::string_view(typeName(p.getType())));
        if (p.getArraySize() != 0) {
            out += " ARRAYSIZE=\"";
            appendInteger(out, p.getArraySize());
            out += '"';
        }
        origin();
    } else {
        origin();
        attr(out, "TYPE", std::string_view(typeName(p.getType())));
    }
    out += '>';
}

void writePropertyEnd(std::string& out, const CIMConstProperty& p)
{
    out += "</";
    out += propertyElement(p);
    out += '>';
}

// ---------------------------------------------------------------------------

IParamValue IParamValue::ofBoolean(const std::string& name, bool b)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::Value;
    p.value = CIMValue(Boolean(b));
    return p;
}

IParamValue IParamValue::ofString(const std::string& name, const String& s)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::Value;
    p.value = CIMValue(s);
    return p;
}

IParamValue IParamValue::ofStringArray(const std::string& name, const Array<String>& a)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::ValueArray;
    p.value = CIMValue(a);
    return p;
}

IParamValue IParamValue::ofClassName(const std::string& name, const CIMName& c)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::ClassName;
    p.className = c;
    return p;
}

IParamValue IParamValue::ofInstanceName(const std::string& name, const CIMObjectPath& path)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::InstanceName;
    p.path = path;
    return p;
}

IParamValue IParamValue::ofInstance(const std::string& name, const CIMInstance& i)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::Instance;
    p.instance = i;
    return p;
}

IParamValue IParamValue::ofNamedInstance(const std::string& name, const CIMInstance& i)
{
    IParamValue p;
    p.name = name;
    p.kind = Kind::NamedInstance;
    p.instance = i;
    return p;
}

IParamValue IParamValue::ofValue(const std::string& name, const CIMValue& v)
{
    IParamValue p;
    p.name = name;
    if (v.isNull()) return p;
    if (v.getType() == CIMTYPE_REFERENCE && !v.isArray()) {
        p.kind = Kind::ValueReference;
        v.get(p.path);
        return p;
    }
    p.kind = v.isArray() ? Kind::ValueArray : Kind::Value;
    p.value = v;
    return p;
}

std::string writeRequest(const CimRequest& r)
{
    std::string out;
    out.reserve(1024);
    out += kXmlDecl;
    out += "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE";
    attr(out, "ID", std::string_view(r.messageId));
    out += " PROTOCOLVERSION=\"1.0\"><SIMPLEREQ>";
    if (r.intrinsic) {
        out += "<IMETHODCALL";
        attr(out, "NAME", std::string_view(r.methodName));
        out += '>';
        writeLocalNamespacePath(out, r.nameSpace);
        for (const auto& p : r.iparams) writeIParamValue(out, p);
        out += "</IMETHODCALL>";
    } else {
        out += "<METHODCALL";
        attr(out, "NAME", std::string_view(r.methodName));
        out += '>';
        if (r.target.getKeyBindings().size() == 0) {
            out += "<LOCALCLASSPATH>";
            writeLocalNamespacePath(out, r.nameSpace);
            writeClassName(out, r.target.getClassName());
            out += "</LOCALCLASSPATH>";
        } else {
            out += "<LOCALINSTANCEPATH>";
            writeLocalNamespacePath(out, r.nameSpace);
            writeInstanceName(out, r.target);
            out += "</LOCALINSTANCEPATH>";
        }
        for (Uint32 i = 0; i < r.params.size(); ++i) writeParamValue(out, r.params[i]);
        out += "</METHODCALL>";
    }
    out += "</SIMPLEREQ></MESSAGE></CIM>\n";
    return out;
}

namespace {

// Elements whose content is text: their start tag is not followed by a line end.
bool holdsText(std::string_view startTag)
{
    for (const char* n : {"VALUE", "KEYVALUE", "HOST"}) {
        std::string_view name(n);
        if (startTag.size() > name.size() && startTag.compare(1, name.size(), name) == 0 &&
            (startTag[name.size() + 1] == '>' || startTag[name.size() + 1] == ' '))
            return true;
    }
    return false;
}

// Puts each element of a compact message on its own line.  Every '>' in
// the writer's output ends a tag ('>' in text and attributes is escaped), so
// the tags can be found without parsing.
std::string oneElementPerLine(std::string_view compact)
{
    std::string out;
    out.reserve(compact.size() + compact.size() / 8);
    const char* data = compact.data();
    const std::size_t size = compact.size();
    std::size_t tagStart = 0;
    for (std::size_t i = 0; i < size;) {
        // Text up to and including the next '>', in one piece.
        const void* gtAt = std::memchr(data + i, '>', size - i);
        if (gtAt == nullptr) {
            out.append(data + i, size - i);
            break;
        }
        const std::size_t gt = static_cast<std::size_t>(static_cast<const char*>(gtAt) - data);
        out.append(data + i, gt + 1 - i);
        if (const void* ltAt = memrchr(data + i, '<', gt - i)) {
            tagStart = static_cast<std::size_t>(static_cast<const char*>(ltAt) - data);
        }
        i = gt + 1;
        std::string_view tag(data + tagStart, gt + 1 - tagStart);
        bool lineEndFollows = i < size && data[i] == '\n';
        // An OpenPegasus server writes the closing tag right after an ERROR element.
        if (tag.compare(0, 6, "<ERROR") == 0 && tag[tag.size() - 2] == '/') {
            if (lineEndFollows) ++i;
            continue;
        }
        if (lineEndFollows) continue;
        if (tag[1] != '/' && tag[tag.size() - 2] != '/' && holdsText(tag)) continue;
        out.push_back('\n');
    }
    return out;
}

}  // namespace

std::string laidOut(std::string_view compact, Layout layout)
{
    return layout == Layout::Compact ? std::string(compact) : oneElementPerLine(compact);
}

void openIntrinsicAnswer(std::string& out, const std::string& messageId, const std::string& methodName)
{
    openMessage(out, messageId, "SIMPLERSP");
    out += "<IMETHODRESPONSE";
    attr(out, "NAME", std::string_view(methodName));
    out += ">\n<IRETURNVALUE>\n";
}

void closeIntrinsicAnswer(std::string& out)
{
    out += "</IRETURNVALUE>\n</IMETHODRESPONSE>\n";
    closeMessage(out, "SIMPLERSP");
}

std::string writeResponse(const CimResponse& r, Layout layout)
{
    if (layout == Layout::Compact) return writeResponse(r);
    return oneElementPerLine(writeResponse(r));
}

std::string writeResponse(const CimResponse& r)
{
    std::string out;
    out.reserve(4096);
    openMessage(out, r.messageId, "SIMPLERSP");
    const char* element = r.intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE";
    out += '<';
    out += element;
    attr(out, "NAME", std::string_view(r.methodName));
    out += ">\n";
    if (r.isError) {
        out += "<ERROR CODE=\"";
        appendInteger(out, static_cast<unsigned>(r.errorCode));
        out += '"';
        if (r.errorDescription.size() != 0) attr(out, "DESCRIPTION", r.errorDescription);
        if (r.errorInstances.size() == 0) {
            out += "/>\n";
        } else {
            out += '>';
            for (Uint32 i = 0; i < r.errorInstances.size(); ++i) writeInstance(out, r.errorInstances[i]);
            out += "</ERROR>\n";
        }
    } else if (r.intrinsic) {
        if (r.hasReturnValue) {
            out += "<IRETURNVALUE>\n";
            switch (r.kind) {
                case CimResponse::ReturnKind::None:
                    break;
                case CimResponse::ReturnKind::ClassNames:
                    for (Uint32 i = 0; i < r.classNames.size(); ++i) {
                        writeClassName(out, r.classNames[i]);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::InstanceNames:
                    for (Uint32 i = 0; i < r.instanceNames.size(); ++i) {
                        writeInstanceName(out, r.instanceNames[i]);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::Classes:
                    for (Uint32 i = 0; i < r.classes.size(); ++i) {
                        writeClass(out, r.classes[i]);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::Instances:
                    for (Uint32 i = 0; i < r.instances.size(); ++i) {
                        writeInstance(out, r.instances[i]);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::NamedInstances:
                    for (Uint32 i = 0; i < r.instances.size(); ++i) {
                        writeNamedInstance(out, r.instances[i]);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::ObjectsWithPath:
                    for (Uint32 i = 0; i < r.classes.size(); ++i) {
                        CIMConstClass c(r.classes[i]);
                        writeObjectWithPath(out, r.classes[i].getPath(), &c, nullptr);
                        out += '\n';
                    }
                    for (Uint32 i = 0; i < r.instances.size(); ++i) {
                        CIMConstInstance inst(r.instances[i]);
                        writeObjectWithPath(out, r.instances[i].getPath(), nullptr, &inst);
                        out += '\n';
                    }
                    break;
                case CimResponse::ReturnKind::Value:
                    writeValueElement(out, r.value);
                    break;
            }
            out += "</IRETURNVALUE>\n";
        }
    } else {
        if (!r.returnValue.isNull()) {
            out += "<RETURNVALUE";
            attr(out, "PARAMTYPE", std::string_view(typeName(r.returnValue.getType())));
            out += '>';
            writeValueElement(out, r.returnValue);
            out += "</RETURNVALUE>\n";
        }
        for (Uint32 i = 0; i < r.outParams.size(); ++i) {
            writeParamValue(out, r.outParams[i]);
            out += '\n';
        }
    }
    out += "</";
    out += element;
    out += ">\n";
    closeMessage(out, "SIMPLERSP");
    return out;
}

std::string writeExportRequest(const ExportRequest& r)
{
    std::string out;
    out.reserve(2048);
    openMessage(out, r.messageId, "SIMPLEEXPREQ");
    out += "<EXPMETHODCALL";
    attr(out, "NAME", std::string_view(r.methodName));
    out += ">\n";
    for (const auto& p : r.params) {
        out += "<EXPPARAMVALUE";
        attr(out, "NAME", std::string_view(p.name));
        out += '>';
        if (p.hasInstance) writeInstance(out, p.instance);
        out += "</EXPPARAMVALUE>\n";
    }
    out += "</EXPMETHODCALL>\n";
    closeMessage(out, "SIMPLEEXPREQ");
    return out;
}

std::string writeExportResponse(const ExportResponse& r)
{
    std::string out;
    openMessage(out, r.messageId, "SIMPLEEXPRSP");
    out += "<EXPMETHODRESPONSE";
    attr(out, "NAME", std::string_view(r.methodName));
    out += ">\n";
    if (r.isError) {
        out += "<ERROR CODE=\"";
        appendInteger(out, static_cast<unsigned>(r.errorCode));
        out += '"';
        if (r.errorDescription.size() != 0) attr(out, "DESCRIPTION", r.errorDescription);
        out += "/>\n";
    } else {
        out += "<IRETURNVALUE></IRETURNVALUE>\n";
    }
    out += "</EXPMETHODRESPONSE>\n";
    closeMessage(out, "SIMPLEEXPRSP");
    return out;
}

}  // namespace cimxml
}  // namespace orv
