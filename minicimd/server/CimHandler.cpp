#include "server/CimHandler.h"

#include "server/CimXmlWriter.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>

namespace minicimd {

namespace {

// A request the server cannot read as CIM-XML: HTTP 400 with a CIMError header.
struct BadRequest {
    std::string cimError;
    std::string detail;
};

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

std::string nodeName(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

bool is(const xmlNode* n, const char* name) { return nodeName(n) == name; }

std::vector<xmlNode*> elems(const xmlNode* n) {
    std::vector<xmlNode*> r;
    for (xmlNode* c = n->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) r.push_back(c);
    return r;
}

bool hasAttr(const xmlNode* n, const char* name) {
    return xmlHasProp(const_cast<xmlNode*>(n), reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

std::string attr(const xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(const_cast<xmlNode*>(n), reinterpret_cast<const xmlChar*>(name));
    if (!v) return "";
    std::string s(reinterpret_cast<char*>(v));
    xmlFree(v);
    return s;
}

std::string requiredAttr(const xmlNode* n, const char* name) {
    if (!hasAttr(n, name))
        throw BadRequest{"request-not-valid", "element " + nodeName(n) + " lacks attribute " + name};
    return attr(n, name);
}

std::string text(const xmlNode* n) {
    xmlChar* v = xmlNodeGetContent(const_cast<xmlNode*>(n));
    if (!v) return "";
    std::string s(reinterpret_cast<char*>(v));
    xmlFree(v);
    return s;
}

[[noreturn]] void invalid(const std::string& what) { throw BadRequest{"request-not-valid", what}; }

xmlNode* onlyChild(const xmlNode* n, const char* want) {
    auto es = elems(n);
    if (es.size() != 1 || (want && !is(es[0], want)))
        invalid("element " + nodeName(n) + " must hold exactly one " + (want ? want : "element"));
    return es[0];
}

int depthOf(const xmlNode* n, int limit) {
    // Iterative walk: a deep document must not deepen the stack.
    int depth = 0, maxDepth = 0;
    const xmlNode* cur = n;
    while (cur) {
        if (cur->type == XML_ELEMENT_NODE && depth + 1 > maxDepth) {
            maxDepth = depth + 1;
            if (maxDepth > limit) return maxDepth;
        }
        if (cur->children && cur->type == XML_ELEMENT_NODE) {
            cur = cur->children;
            ++depth;
            continue;
        }
        while (cur && !cur->next) {
            cur = cur->parent;
            --depth;
            if (cur == n->parent || depth < 0) return maxDepth;
        }
        if (cur) cur = cur->next;
    }
    return maxDepth;
}

std::string namespaceOf(const xmlNode* lnp) {
    if (!is(lnp, "LOCALNAMESPACEPATH")) invalid("expected LOCALNAMESPACEPATH, found " + nodeName(lnp));
    std::string ns;
    for (xmlNode* e : elems(lnp)) {
        if (!is(e, "NAMESPACE")) invalid("LOCALNAMESPACEPATH holds " + nodeName(e));
        if (!ns.empty()) ns += "/";
        ns += requiredAttr(e, "NAME");
    }
    if (ns.empty()) invalid("empty LOCALNAMESPACEPATH");
    return ns;
}

ObjectPath readObjectPath(const xmlNode* n, int depth);

ObjectPath readInstanceName(const xmlNode* n, int depth) {
    if (!is(n, "INSTANCENAME")) invalid("expected INSTANCENAME, found " + nodeName(n));
    ObjectPath p;
    p.className = requiredAttr(n, "CLASSNAME");
    for (xmlNode* kb : elems(n)) {
        KeyBinding k;
        xmlNode* v = kb;
        if (is(kb, "KEYBINDING")) {
            k.name = requiredAttr(kb, "NAME");
            v = onlyChild(kb, nullptr);
        } else if (!is(kb, "KEYVALUE") && !is(kb, "VALUE.REFERENCE")) {
            invalid("INSTANCENAME holds " + nodeName(kb));
        }
        if (is(v, "KEYVALUE")) {
            std::string vt = hasAttr(v, "VALUETYPE") ? attr(v, "VALUETYPE") : "string";
            if (vt == "string") k.kind = KeyBinding::String;
            else if (vt == "boolean") k.kind = KeyBinding::Boolean;
            else if (vt == "numeric") k.kind = KeyBinding::Numeric;
            else invalid("KEYVALUE has VALUETYPE '" + vt + "'");
            k.value = text(v);
        } else if (is(v, "VALUE.REFERENCE")) {
            k.kind = KeyBinding::Reference;
            k.ref = std::make_shared<ObjectPath>(readObjectPath(onlyChild(v, nullptr), depth + 1));
        } else {
            invalid("KEYBINDING holds " + nodeName(v));
        }
        p.keys.push_back(std::move(k));
    }
    return p;
}

// INSTANCENAME, LOCALINSTANCEPATH, INSTANCEPATH, CLASSNAME, LOCALCLASSPATH, CLASSPATH
ObjectPath readObjectPath(const xmlNode* n, int depth) {
    if (depth > 8) invalid("references nested too deeply");
    if (is(n, "INSTANCENAME")) return readInstanceName(n, depth);
    if (is(n, "CLASSNAME")) {
        ObjectPath p;
        p.className = requiredAttr(n, "NAME");
        return p;
    }
    auto es = elems(n);
    if (is(n, "LOCALINSTANCEPATH") || is(n, "LOCALCLASSPATH")) {
        if (es.size() != 2) invalid(nodeName(n) + " must hold a namespace and a name");
        ObjectPath p = readObjectPath(es[1], depth);
        p.nameSpace = namespaceOf(es[0]);
        return p;
    }
    if (is(n, "INSTANCEPATH") || is(n, "CLASSPATH")) {
        if (es.size() != 2 || !is(es[0], "NAMESPACEPATH")) invalid(nodeName(n) + " must hold NAMESPACEPATH and a name");
        auto nsp = elems(es[0]);
        if (nsp.size() != 2 || !is(nsp[0], "HOST")) invalid("NAMESPACEPATH must hold HOST and LOCALNAMESPACEPATH");
        ObjectPath p = readObjectPath(es[1], depth);
        p.host = text(nsp[0]);
        p.nameSpace = namespaceOf(nsp[1]);
        return p;
    }
    invalid("expected an object path, found " + nodeName(n));
}

// VALUE, VALUE.ARRAY, VALUE.REFERENCE, VALUE.REFARRAY, VALUE.NULL
RawValue readRawValue(const xmlNode* v) {
    RawValue r;
    r.null = false;
    if (is(v, "VALUE")) {
        if (!elems(v).empty()) invalid("VALUE holds an element");
        r.texts.push_back(text(v));
    } else if (is(v, "VALUE.ARRAY")) {
        r.isArray = true;
        for (xmlNode* e : elems(v)) {
            if (is(e, "VALUE.NULL")) throw CimError(kCimInvalidParameter, "null array elements are not supported");
            if (!is(e, "VALUE")) invalid("VALUE.ARRAY holds " + nodeName(e));
            r.texts.push_back(text(e));
        }
    } else if (is(v, "VALUE.REFERENCE")) {
        r.isRef = true;
        r.refs.push_back(readObjectPath(onlyChild(v, nullptr), 0));
    } else if (is(v, "VALUE.REFARRAY")) {
        r.isRef = true;
        r.isArray = true;
        for (xmlNode* e : elems(v)) {
            if (!is(e, "VALUE.REFERENCE")) invalid("VALUE.REFARRAY holds " + nodeName(e));
            r.refs.push_back(readObjectPath(onlyChild(e, nullptr), 0));
        }
    } else if (is(v, "VALUE.NULL")) {
        r.null = true;
    } else {
        invalid("expected a value, found " + nodeName(v));
    }
    return r;
}

bool typeFromAttr(const std::string& s, DataType& t) {
    if (s == "reference") {
        t = DataType::Reference;
        return true;
    }
    return mof::dataTypeFromName(s, t);
}

// INSTANCE -> class name and the properties it gives.
std::vector<RawProperty> readInstance(const xmlNode* n, std::string& className) {
    if (!is(n, "INSTANCE")) invalid("expected INSTANCE, found " + nodeName(n));
    className = requiredAttr(n, "CLASSNAME");
    std::vector<RawProperty> props;
    for (xmlNode* p : elems(n)) {
        if (is(p, "QUALIFIER")) continue;  // instance qualifiers are not kept
        bool isRef = is(p, "PROPERTY.REFERENCE");
        if (!is(p, "PROPERTY") && !is(p, "PROPERTY.ARRAY") && !isRef) invalid("INSTANCE holds " + nodeName(p));
        RawProperty rp;
        rp.name = requiredAttr(p, "NAME");
        RawValue v;
        for (xmlNode* c : elems(p)) {
            if (is(c, "QUALIFIER")) continue;
            v = readRawValue(c);
        }
        if (isRef) {
            v.typed = true;
            v.type = DataType::Reference;
        } else if (hasAttr(p, "TYPE")) {
            if (!typeFromAttr(attr(p, "TYPE"), v.type)) invalid("unknown TYPE '" + attr(p, "TYPE") + "'");
            v.typed = true;
        }
        if (!v.null && is(p, "PROPERTY.ARRAY") && !v.isArray) invalid("PROPERTY.ARRAY without VALUE.ARRAY");
        rp.value = std::move(v);
        props.push_back(std::move(rp));
    }
    return props;
}

bool listedIn(const std::vector<std::string>* list, const std::string& name) {
    if (!list) return true;
    for (const auto& n : *list)
        if (nameEq(n, name)) return true;
    return false;
}

class Call {
public:
    Call(const Repository& repo, const xmlNode* call) : repo_(repo) {
        auto es = elems(call);
        if (es.empty()) invalid("IMETHODCALL lacks LOCALNAMESPACEPATH");
        ns_ = namespaceOf(es[0]);
        for (size_t i = 1; i < es.size(); ++i) {
            if (!is(es[i], "IPARAMVALUE")) invalid("IMETHODCALL holds " + nodeName(es[i]));
            std::string name = requiredAttr(es[i], "NAME");
            if (params_.count(lowerName(name))) throw CimError(kCimInvalidParameter, "parameter " + name + " given twice");
            params_[lowerName(name)] = es[i];
        }
    }

    const std::string& ns() const { return ns_; }

    // Refuses parameters the operation does not define.
    void allow(std::initializer_list<const char*> names) const {
        for (const auto& kv : params_) {
            bool ok = false;
            for (const char* n : names)
                if (kv.first == lowerName(n)) ok = true;
            if (!ok) throw CimError(kCimInvalidParameter, "unexpected parameter " + attr(kv.second, "NAME"));
        }
    }

    const xmlNode* param(const char* name) const {
        auto it = params_.find(lowerName(name));
        return it == params_.end() ? nullptr : it->second;
    }

    bool boolParam(const char* name, bool dflt) const {
        const xmlNode* p = param(name);
        if (!p) return dflt;
        auto es = elems(p);
        if (es.empty()) return dflt;
        if (es.size() != 1 || !is(es[0], "VALUE")) throw CimError(kCimInvalidParameter, std::string(name) + " must be a boolean VALUE");
        std::string t = text(es[0]);
        if (nameEq(t, "true")) return true;
        if (nameEq(t, "false")) return false;
        throw CimError(kCimInvalidParameter, std::string(name) + " must be TRUE or FALSE, not '" + t + "'");
    }

    std::string className(const char* name, bool required) const {
        const xmlNode* p = param(name);
        if (!p || elems(p).empty()) {
            if (required) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
            return "";
        }
        const xmlNode* c = onlyChild(p, nullptr);
        if (!is(c, "CLASSNAME")) throw CimError(kCimInvalidParameter, std::string(name) + " must be a CLASSNAME");
        return requiredAttr(c, "NAME");
    }

    ObjectPath instanceName(const char* name) const {
        const xmlNode* p = param(name);
        if (!p || elems(p).empty()) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
        return readInstanceName(onlyChild(p, nullptr), 0);
    }

    std::string stringParam(const char* name) const {
        const xmlNode* p = param(name);
        if (!p || elems(p).empty()) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
        const xmlNode* v = onlyChild(p, nullptr);
        if (!is(v, "VALUE")) throw CimError(kCimInvalidParameter, std::string(name) + " must be a VALUE");
        return text(v);
    }

    // Null (absent) means every property; an empty list means none.
    bool propertyList(std::vector<std::string>& out) const {
        const xmlNode* p = param("PropertyList");
        if (!p) return false;
        auto es = elems(p);
        if (es.empty()) return false;
        if (es.size() != 1 || !is(es[0], "VALUE.ARRAY")) throw CimError(kCimInvalidParameter, "PropertyList must be a VALUE.ARRAY");
        for (xmlNode* v : elems(es[0])) {
            if (!is(v, "VALUE")) throw CimError(kCimInvalidParameter, "PropertyList holds " + nodeName(v));
            out.push_back(text(v));
        }
        return true;
    }

private:
    const Repository& repo_;
    std::string ns_;
    std::map<std::string, const xmlNode*> params_;
};

}  // namespace

std::string CimHandler::uriEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : s) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            r += static_cast<char>(c);
        } else {
            r += '%';
            r += hex[c >> 4];
            r += hex[c & 15];
        }
    }
    return r;
}

HttpAnswer CimHandler::badRequest(const std::string& cimError, const std::string& detail) {
    HttpAnswer a;
    a.status = 400;
    a.headers.push_back({"CIMError", cimError});
    if (!detail.empty()) a.headers.push_back({"PGErrorDetail", uriEncode(detail)});
    return a;
}

CimHandler CimHandler::create(Repository& repo) { return CimHandler(repo); }

void CimHandler::addProvider(const std::string& className, const std::string& methodName, MethodProvider provider) {
    providers_[lowerName(className) + "." + lowerName(methodName)] = std::move(provider);
}

HttpAnswer CimHandler::handle(const HttpRequestInfo& req) const {
    if (!req.hasCimOperation) return badRequest("unsupported-operation", "the CIMOperation header is missing");
    if (!nameEq(req.cimOperation, "MethodCall"))
        return badRequest("unsupported-operation", "CIMOperation must be MethodCall");
    if (!req.contentType.empty() && req.contentType.find("xml") == std::string::npos)
        return badRequest("request-not-valid", "Content-Type must be application/xml or text/xml");

    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(req.body.data(), static_cast<int>(req.body.size()), "request", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    if (!doc) {
        const xmlError* e = xmlGetLastError();
        std::string msg = e && e->message ? e->message : "not XML";
        while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
        return badRequest("request-not-valid",
                          "Validation error: on line " + std::to_string(e ? e->line : 0) + ": " + msg);
    }
    // No DOCTYPE: CIM-XML needs none, and internal subsets are how entity bombs arrive.
    if (doc->intSubset || doc->extSubset) return badRequest("request-not-valid", "a DOCTYPE is not allowed");
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) return badRequest("request-not-valid", "empty document");
    if (depthOf(root, kMaxXmlDepth) > kMaxXmlDepth)
        return badRequest("request-not-valid", "XML nested deeper than " + std::to_string(kMaxXmlDepth) + " levels");

    std::string messageId = "0";
    std::string method;
    bool intrinsic = true;
    const xmlNode* call = nullptr;
    try {
        if (!is(root, "CIM")) invalid("root element is " + nodeName(root) + ", not CIM");
        const xmlNode* message = onlyChild(root, "MESSAGE");
        messageId = requiredAttr(message, "ID");
        const xmlNode* simple = onlyChild(message, nullptr);
        if (is(simple, "MULTIREQ")) throw BadRequest{"unsupported-operation", "multiple requests are not supported"};
        if (!is(simple, "SIMPLEREQ")) invalid("MESSAGE holds " + nodeName(simple));
        call = onlyChild(simple, nullptr);
        if (is(call, "METHODCALL")) intrinsic = false;
        else if (!is(call, "IMETHODCALL")) invalid("SIMPLEREQ holds " + nodeName(call));
        method = requiredAttr(call, "NAME");
        if (!req.cimMethod.empty() && req.cimMethod != method)
            throw BadRequest{"header-mismatch", "CIMMethod header '" + req.cimMethod + "' does not match '" + method + "'"};
    } catch (const BadRequest& b) {
        return badRequest(b.cimError, b.detail);
    }

    // The answer is written straight into its body (answers run to megabytes);
    // an error cuts the body back to the element head.
    HttpAnswer a;
    std::string& ret = a.body;
    ret.reserve(4096);
    ret += "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE ID=\"";
    CimXmlWriter::escape(ret, messageId);
    ret += "\" PROTOCOLVERSION=\"1.0\">\n<SIMPLERSP>\n";
    const char* tag = intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE";
    ret += std::string("<") + tag + " NAME=\"";
    CimXmlWriter::escape(ret, method);
    ret += "\">\n";
    const size_t head = ret.size();
    if (intrinsic) ret += "<IRETURNVALUE>\n";
    bool hasReturn = false;
    int code = 0;
    std::string description;
    try {
        const Repository& repo = *repo_;
        if (intrinsic) {
            Call c(repo, call);
            const std::string& ns = c.ns();
            if (!repo.hasNamespace(ns)) throw CimError(kCimInvalidNamespace, ns);
            if (method == "GetClass") {
                c.allow({"ClassName", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin", "PropertyList"});
                OutputOptions o;
                o.localOnly = c.boolParam("LocalOnly", true);
                o.includeQualifiers = c.boolParam("IncludeQualifiers", true);
                o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
                std::vector<std::string> pl;
                if (c.propertyList(pl)) o.propertyList = &pl;
                Class cls = repo.getClass(ns, c.className("ClassName", true));
                CimXmlWriter::cimClass(ret, cls, o);
                hasReturn = true;
            } else if (method == "EnumerateClassNames" || method == "EnumerateClasses") {
                bool names = method == "EnumerateClassNames";
                if (names) c.allow({"ClassName", "DeepInheritance"});
                else c.allow({"ClassName", "DeepInheritance", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin"});
                OutputOptions o;
                o.localOnly = c.boolParam("LocalOnly", true);
                o.includeQualifiers = c.boolParam("IncludeQualifiers", true);
                o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
                auto classes = repo.enumerateClasses(ns, c.className("ClassName", false), c.boolParam("DeepInheritance", false));
                for (const auto& cls : classes) {
                    if (names) {
                        ret += "<CLASSNAME NAME=\"";
                        CimXmlWriter::escape(ret, cls.name);
                        ret += "\"/>\n";
                    } else {
                        CimXmlWriter::cimClass(ret, cls, o);
                    }
                }
                hasReturn = true;
            } else if (method == "GetInstance") {
                c.allow({"InstanceName", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin", "PropertyList"});
                ObjectPath path = c.instanceName("InstanceName");
                OutputOptions o;
                // LocalOnly is deprecated for instances and treated as false, as
                // current servers do: honouring it would drop inherited keys.
                c.boolParam("LocalOnly", true);
                o.includeQualifiers = c.boolParam("IncludeQualifiers", false);
                o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
                std::vector<std::string> pl;
                if (c.propertyList(pl)) o.propertyList = &pl;
                Instance inst = repo.getInstance(ns, path);
                Class cls = repo.getClass(ns, inst.className);
                CimXmlWriter::instance(ret, inst, cls, o);
                hasReturn = true;
            } else if (method == "EnumerateInstanceNames") {
                c.allow({"ClassName"});
                for (const auto& p : repo.enumerateInstanceNames(ns, c.className("ClassName", true)))
                    CimXmlWriter::instanceName(ret, p);
                hasReturn = true;
            } else if (method == "EnumerateInstances") {
                c.allow({"ClassName", "LocalOnly", "DeepInheritance", "IncludeQualifiers", "IncludeClassOrigin", "PropertyList"});
                std::string className = c.className("ClassName", true);
                c.boolParam("LocalOnly", true);  // treated as false, see GetInstance
                bool deep = c.boolParam("DeepInheritance", true);
                OutputOptions o;
                o.includeQualifiers = c.boolParam("IncludeQualifiers", false);
                o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
                std::vector<std::string> pl;
                bool hasList = c.propertyList(pl);
                Class base = repo.getClass(ns, className);
                std::map<std::string, Class> classes;
                for (const auto& inst : repo.enumerateInstances(ns, className)) {
                    auto it = classes.find(lowerName(inst.className));
                    if (it == classes.end())
                        it = classes.emplace(lowerName(inst.className), repo.getClass(ns, inst.className)).first;
                    // Without DeepInheritance only the requested class's properties go out.
                    std::vector<std::string> effective;
                    OutputOptions io = o;
                    if (!deep || hasList) {
                        for (const auto& p : it->second.properties)
                            if ((deep || base.findProperty(p.name)) && (!hasList || listedIn(&pl, p.name)))
                                effective.push_back(p.name);
                        io.propertyList = &effective;
                    }
                    ret += "<VALUE.NAMEDINSTANCE>\n";
                    CimXmlWriter::instanceName(ret, repo.pathOf(it->second, inst));
                    CimXmlWriter::instance(ret, inst, it->second, io);
                    ret += "</VALUE.NAMEDINSTANCE>\n";
                }
                hasReturn = true;
            } else if (method == "CreateInstance") {
                c.allow({"NewInstance"});
                const xmlNode* p = c.param("NewInstance");
                if (!p || elems(p).empty()) throw CimError(kCimInvalidParameter, "missing parameter NewInstance");
                std::string className;
                auto props = readInstance(onlyChild(p, nullptr), className);
                ObjectPath path = repo_->createInstance(ns, className, props);
                CimXmlWriter::instanceName(ret, path);
                hasReturn = true;
            } else if (method == "DeleteInstance") {
                c.allow({"InstanceName"});
                ObjectPath path = c.instanceName("InstanceName");
                repo_->deleteInstance(ns, path);
            } else if (method == "ModifyInstance") {
                c.allow({"ModifiedInstance", "IncludeQualifiers", "PropertyList"});
                const xmlNode* p = c.param("ModifiedInstance");
                if (!p || elems(p).empty()) throw CimError(kCimInvalidParameter, "missing parameter ModifiedInstance");
                const xmlNode* named = onlyChild(p, nullptr);
                if (!is(named, "VALUE.NAMEDINSTANCE")) throw CimError(kCimInvalidParameter, "ModifiedInstance must be a VALUE.NAMEDINSTANCE");
                auto parts = elems(named);
                if (parts.size() != 2) invalid("VALUE.NAMEDINSTANCE must hold INSTANCENAME and INSTANCE");
                ObjectPath path = readInstanceName(parts[0], 0);
                std::string className;
                auto props = readInstance(parts[1], className);
                if (!nameEq(className, path.className))
                    throw CimError(kCimInvalidParameter, "instance class " + className + " differs from its path " + path.toString());
                c.boolParam("IncludeQualifiers", true);
                std::vector<std::string> pl;
                bool hasList = c.propertyList(pl);
                repo_->modifyInstance(ns, path, props, hasList ? &pl : nullptr);
            } else if (method == "GetProperty") {
                c.allow({"InstanceName", "PropertyName"});
                ObjectPath path = c.instanceName("InstanceName");
                Value v = repo.getProperty(ns, path, c.stringParam("PropertyName"));
                CimXmlWriter::value(ret, v);
                hasReturn = true;
            } else if (method == "SetProperty") {
                c.allow({"InstanceName", "PropertyName", "NewValue"});
                ObjectPath path = c.instanceName("InstanceName");
                std::string name = c.stringParam("PropertyName");
                RawValue v;  // absent NewValue sets null
                const xmlNode* p = c.param("NewValue");
                if (p && !elems(p).empty()) v = readRawValue(onlyChild(p, nullptr));
                repo_->setProperty(ns, path, name, v);
            } else {
                throw CimError(kCimNotSupported, method);
            }
        } else {
            // Extrinsic method: target path, then PARAMVALUEs.
            auto es = elems(call);
            if (es.empty()) invalid("METHODCALL lacks its target path");
            ObjectPath target = readObjectPath(es[0], 0);
            if (!is(es[0], "LOCALINSTANCEPATH") && !is(es[0], "LOCALCLASSPATH"))
                invalid("METHODCALL target must be LOCALINSTANCEPATH or LOCALCLASSPATH");
            std::string ns = target.nameSpace;
            target.nameSpace.clear();
            if (!repo.hasNamespace(ns)) throw CimError(kCimInvalidNamespace, ns);
            Class cls;
            try {
                cls = repo.getClass(ns, target.className);
            } catch (const CimError&) {
                throw CimError(kCimNotFound, target.className);
            }
            const Method* m = cls.findMethod(method);
            if (!m) throw CimError(kCimMethodNotFound, method);
            if (!target.keys.empty()) repo.getInstance(ns, target);  // NOT_FOUND when it is gone
            std::vector<ParamValue> in;
            for (size_t i = 1; i < es.size(); ++i) {
                if (!is(es[i], "PARAMVALUE")) invalid("METHODCALL holds " + nodeName(es[i]));
                std::string pname = requiredAttr(es[i], "NAME");
                const Parameter* decl = nullptr;
                for (const auto& p : m->parameters)
                    if (nameEq(p.name, pname)) decl = &p;
                if (!decl) throw CimError(kCimInvalidParameter, "method " + m->name + " has no parameter " + pname);
                for (const auto& prev : in)
                    if (nameEq(prev.name, pname)) throw CimError(kCimInvalidParameter, "parameter " + pname + " given twice");
                RawValue rv;
                auto vs = elems(es[i]);
                if (vs.size() > 1) invalid("PARAMVALUE holds more than one value");
                if (!vs.empty()) rv = readRawValue(vs[0]);
                if (hasAttr(es[i], "PARAMTYPE")) {
                    if (!typeFromAttr(attr(es[i], "PARAMTYPE"), rv.type)) invalid("unknown PARAMTYPE");
                    rv.typed = true;
                }
                in.push_back(ParamValue{decl->name, coerceValue(decl->type, decl->isArray, rv, "parameter " + decl->name)});
            }
            auto it = providers_.find(lowerName(m->classOrigin) + "." + lowerName(m->name));
            if (it == providers_.end()) throw CimError(kCimMethodNotAvailable, method);
            std::vector<ParamValue> out;
            Value rv = it->second(repo, ns, target, *m, in, out);
            ret += "<RETURNVALUE PARAMTYPE=\"" + CimXmlWriter::paramType(m->returnType) + "\">\n";
            CimXmlWriter::value(ret, rv);
            ret += "</RETURNVALUE>\n";
            for (const auto& p : out) {
                ret += "<PARAMVALUE NAME=\"";
                CimXmlWriter::escape(ret, p.name);
                ret += "\" PARAMTYPE=\"" + CimXmlWriter::paramType(p.value.type) + "\">\n";
                CimXmlWriter::value(ret, p.value);
                ret += "</PARAMVALUE>\n";
            }
        }
    } catch (const CimError& e) {
        code = e.code();
        description = std::string(cimStatusName(code)) + ": " + e.what();
    } catch (const BadRequest& b) {
        return badRequest(b.cimError, b.detail);
    }

    a.headers.push_back({"Content-Type", "application/xml; charset=utf-8"});
    a.headers.push_back({"CIMOperation", "MethodResponse"});
    std::string& b = a.body;
    if (code != 0) {
        b.resize(head);
        if (!req.wantsTrailers) {
            b += "<ERROR CODE=\"" + std::to_string(code) + "\" DESCRIPTION=\"";
            CimXmlWriter::escape(b, description);
            b += "\"/>";
        }
    } else if (intrinsic) {
        if (hasReturn) b += "</IRETURNVALUE>\n";
        else b.resize(head);
    }
    b += std::string("</") + tag + ">\n</SIMPLERSP>\n</MESSAGE>\n</CIM>\n";
    if (req.wantsTrailers) {
        a.chunked = true;
        a.headers.push_back({"Trailer", "CIMStatusCode, CIMStatusCodeDescription, Content-Language"});
        if (code != 0) {
            a.trailers.push_back({"CIMStatusCode", std::to_string(code)});
            a.trailers.push_back({"CIMStatusCodeDescription", uriEncode(description)});
        }
    }
    return a;
}

}  // namespace minicimd
