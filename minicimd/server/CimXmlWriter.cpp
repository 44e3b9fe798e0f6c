#include "server/CimXmlWriter.h"

#include <algorithm>

namespace minicimd {

namespace {

bool listed(const std::vector<std::string>* list, const std::string& name) {
    if (!list) return true;
    for (const auto& n : *list)
        if (nameEq(n, name)) return true;
    return false;
}

void localNamespacePath(std::string& out, const std::string& ns) {
    out += "<LOCALNAMESPACEPATH>\n";
    size_t i = 0;
    while (i <= ns.size()) {
        size_t slash = ns.find('/', i);
        std::string part = ns.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
        if (!part.empty()) {
            out += "<NAMESPACE NAME=\"";
            CimXmlWriter::escape(out, part);
            out += "\"/>\n";
        }
        if (slash == std::string::npos) break;
        i = slash + 1;
    }
    out += "</LOCALNAMESPACEPATH>\n";
}

void qualifiers(std::string& out, const std::vector<Qualifier>& qs, const OutputOptions& o) {
    if (!o.includeQualifiers) return;
    for (const auto& q : qs) CimXmlWriter::qualifier(out, q);
}

}  // namespace

void CimXmlWriter::escape(std::string& out, const std::string& text) {
    // Copies runs of plain characters at once; most text has nothing to escape.
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        const char* rep;
        switch (c) {
        case '&': rep = "&amp;"; break;
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        case '"': rep = "&quot;"; break;
        case '\'': rep = "&apos;"; break;
        default:
            if (c >= 0x20) continue;
            rep = nullptr;
        }
        out.append(text, start, i - start);
        if (rep) {
            out += rep;
        } else {
            // Line ends and other control characters as character references,
            // so they survive attribute-value normalisation on the way back.
            out += "&#" + std::to_string(static_cast<int>(c)) + ";";
        }
        start = i + 1;
    }
    out.append(text, start, std::string::npos);
}

std::string CimXmlWriter::paramType(DataType t) { return mof::dataTypeName(t); }

void CimXmlWriter::instanceName(std::string& out, const ObjectPath& p) {
    out += "<INSTANCENAME CLASSNAME=\"";
    escape(out, p.className);
    out += "\">\n";
    std::vector<const KeyBinding*> keys;
    for (const auto& k : p.keys) keys.push_back(&k);
    // Sorted like the textual form, so equal paths look equal on the wire.
    std::sort(keys.begin(), keys.end(),
              [](const KeyBinding* a, const KeyBinding* b) { return lowerName(a->name) < lowerName(b->name); });
    for (const KeyBinding* k : keys) {
        out += "<KEYBINDING NAME=\"";
        escape(out, k->name);
        out += "\">\n";
        if (k->kind == KeyBinding::Reference) {
            out += "<VALUE.REFERENCE>\n";
            if (k->ref) objectPath(out, *k->ref);
            out += "</VALUE.REFERENCE>\n";
        } else {
            out += "<KEYVALUE VALUETYPE=\"";
            out += k->kind == KeyBinding::String ? "string" : k->kind == KeyBinding::Boolean ? "boolean" : "numeric";
            out += "\">";
            escape(out, k->value);
            out += "</KEYVALUE>\n";
        }
        out += "</KEYBINDING>\n";
    }
    out += "</INSTANCENAME>\n";
}

void CimXmlWriter::objectPath(std::string& out, const ObjectPath& p) {
    if (p.nameSpace.empty()) {
        instanceName(out, p);
        return;
    }
    if (!p.host.empty()) {
        out += "<INSTANCEPATH>\n<NAMESPACEPATH>\n<HOST>";
        escape(out, p.host);
        out += "</HOST>\n";
        localNamespacePath(out, p.nameSpace);
        out += "</NAMESPACEPATH>\n";
        instanceName(out, p);
        out += "</INSTANCEPATH>\n";
        return;
    }
    out += "<LOCALINSTANCEPATH>\n";
    localNamespacePath(out, p.nameSpace);
    instanceName(out, p);
    out += "</LOCALINSTANCEPATH>\n";
}

void CimXmlWriter::value(std::string& out, const Value& v) {
    if (v.null) return;
    if (v.type == DataType::Reference) {
        if (v.isArray) out += "<VALUE.REFARRAY>\n";
        for (const auto& e : v.items) {
            out += "<VALUE.REFERENCE>\n";
            if (e.ref) objectPath(out, *e.ref);
            out += "</VALUE.REFERENCE>\n";
        }
        if (v.isArray) out += "</VALUE.REFARRAY>\n";
        return;
    }
    if (v.isArray) {
        out += "<VALUE.ARRAY>\n";
        for (const auto& e : v.items) {
            out += "<VALUE>";
            escape(out, e.text);
            out += "</VALUE>\n";
        }
        out += "</VALUE.ARRAY>\n";
        return;
    }
    out += "<VALUE>";
    escape(out, v.items.empty() ? std::string() : v.items[0].text);
    out += "</VALUE>\n";
}

void CimXmlWriter::qualifier(std::string& out, const Qualifier& q) {
    out += "<QUALIFIER NAME=\"";
    escape(out, q.name);
    out += "\" TYPE=\"";
    out += mof::dataTypeName(q.value.type);
    out += "\"";
    if (q.propagated) out += " PROPAGATED=\"true\"";
    if (!q.flavor.overridable) out += " OVERRIDABLE=\"false\"";
    if (!q.flavor.toSubclass) out += " TOSUBCLASS=\"false\"";
    if (q.flavor.translatable) out += " TRANSLATABLE=\"true\"";
    out += ">\n";
    value(out, q.value);
    out += "</QUALIFIER>\n";
}

void CimXmlWriter::property(std::string& out, const Property& p, const OutputOptions& o) {
    const char* tag = p.value.type == DataType::Reference ? "PROPERTY.REFERENCE"
                      : p.value.isArray                  ? "PROPERTY.ARRAY"
                                                         : "PROPERTY";
    out += "<";
    out += tag;
    out += " NAME=\"";
    escape(out, p.name);
    out += "\"";
    // Attribute order as OpenPegasus writes it: a plain property puts its
    // origin before its type, arrays and references after.
    auto origin = [&]() {
        if (o.includeClassOrigin && !p.classOrigin.empty()) {
            out += " CLASSORIGIN=\"";
            escape(out, p.classOrigin);
            out += "\"";
        }
        if (p.propagated) out += " PROPAGATED=\"true\"";
    };
    if (p.value.type == DataType::Reference) {
        out += " REFERENCECLASS=\"";
        escape(out, p.refClass);
        out += "\"";
        origin();
    } else if (p.value.isArray) {
        out += " TYPE=\"";
        out += mof::dataTypeName(p.value.type);
        out += "\"";
        if (p.arraySize) out += " ARRAYSIZE=\"" + std::to_string(p.arraySize) + "\"";
        origin();
    } else {
        origin();
        out += " TYPE=\"";
        out += mof::dataTypeName(p.value.type);
        out += "\"";
    }
    out += ">\n";
    qualifiers(out, p.qualifiers, o);
    if (p.value.type == DataType::Reference && !p.value.null) {
        out += "<VALUE.REFERENCE>\n";
        if (!p.value.items.empty() && p.value.items[0].ref) objectPath(out, *p.value.items[0].ref);
        out += "</VALUE.REFERENCE>\n";
    } else {
        value(out, p.value);
    }
    out += "</";
    out += tag;
    out += ">\n";
}

void CimXmlWriter::cimClass(std::string& out, const Class& c, const OutputOptions& o) {
    out += "<CLASS NAME=\"";
    escape(out, c.name);
    out += "\"";
    if (!c.superClass.empty()) {
        out += " SUPERCLASS=\"";
        escape(out, c.superClass);
        out += "\"";
    }
    out += ">\n";
    qualifiers(out, c.qualifiers, o);
    for (const auto& p : c.properties) {
        if (o.localOnly && p.propagated) continue;
        if (!listed(o.propertyList, p.name)) continue;
        property(out, p, o);
    }
    for (const auto& m : c.methods) {
        if (o.localOnly && m.propagated) continue;
        out += "<METHOD NAME=\"";
        escape(out, m.name);
        out += "\" TYPE=\"";
        out += mof::dataTypeName(m.returnType);
        out += "\"";
        if (o.includeClassOrigin && !m.classOrigin.empty()) {
            out += " CLASSORIGIN=\"";
            escape(out, m.classOrigin);
            out += "\"";
        }
        if (m.propagated) out += " PROPAGATED=\"true\"";
        out += ">\n";
        qualifiers(out, m.qualifiers, o);
        for (const auto& p : m.parameters) {
            const char* tag;
            if (p.type == DataType::Reference) tag = p.isArray ? "PARAMETER.REFARRAY" : "PARAMETER.REFERENCE";
            else tag = p.isArray ? "PARAMETER.ARRAY" : "PARAMETER";
            out += "<";
            out += tag;
            out += " NAME=\"";
            escape(out, p.name);
            out += "\"";
            if (p.type == DataType::Reference) {
                out += " REFERENCECLASS=\"";
                escape(out, p.refClass);
                out += "\"";
            } else {
                out += " TYPE=\"";
                out += mof::dataTypeName(p.type);
                out += "\"";
            }
            if (p.isArray && p.arraySize) out += " ARRAYSIZE=\"" + std::to_string(p.arraySize) + "\"";
            out += ">\n";
            qualifiers(out, p.qualifiers, o);
            out += "</";
            out += tag;
            out += ">\n";
        }
        out += "</METHOD>\n";
    }
    out += "</CLASS>\n";
}

void CimXmlWriter::instance(std::string& out, const Instance& i, const Class& cls, const OutputOptions& o) {
    out += "<INSTANCE CLASSNAME=\"";
    escape(out, i.className);
    out += "\">\n";
    for (const auto& p : i.properties) {
        if (!listed(o.propertyList, p.name)) continue;
        if (o.includeQualifiers) {
            const Property* decl = cls.findProperty(p.name);
            if (decl) {
                Property withQ = p;
                withQ.qualifiers = decl->qualifiers;
                property(out, withQ, o);
                continue;
            }
        }
        property(out, p, o);
    }
    out += "</INSTANCE>\n";
}

}  // namespace minicimd
