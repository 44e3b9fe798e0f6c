#include "server/CimHandler.h"

#include "CimXml/CimXml.h"
#include "server/Indications.h"

#include <Pegasus/Common/CIMParameter.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

#include <algorithm>
#include <memory>

using namespace Pegasus;
using orv::cimxml::CimRequest;
using orv::cimxml::CimResponse;
using orv::cimxml::IParamValue;

namespace minicimd {

namespace {

struct OutputOptions {
    bool includeQualifiers = false;
    bool includeClassOrigin = false;
    bool localOnly = false;                                  // classes only
    const std::vector<std::string>* propertyList = nullptr;  // null: all
};

bool listedIn(const std::vector<std::string>* list, const std::string& name)
{
    if (!list) return true;
    for (const auto& n : *list)
        if (nameEq(n, name)) return true;
    return false;
}

template <class T>
void dropQualifiers(T& owner)
{
    while (owner.getQualifierCount() != 0) owner.removeQualifier(owner.getQualifierCount() - 1);
}

// What a client asked to see of a class: the repository's copy cut down.
void shapeClass(CIMClass& c, const OutputOptions& o)
{
    for (Uint32 i = c.getPropertyCount(); i-- > 0;) {
        CIMProperty p = c.getProperty(i);
        if ((o.localOnly && p.getPropagated()) || !listedIn(o.propertyList, str(p.getName()))) {
            c.removeProperty(i);
            continue;
        }
        if (!o.includeQualifiers) dropQualifiers(p);
        if (!o.includeClassOrigin) p.setClassOrigin(CIMName());
    }
    for (Uint32 i = c.getMethodCount(); i-- > 0;) {
        CIMMethod m = c.getMethod(i);
        if (o.localOnly && m.getPropagated()) {
            c.removeMethod(i);
            continue;
        }
        if (!o.includeQualifiers) {
            dropQualifiers(m);
            for (Uint32 k = 0; k < m.getParameterCount(); ++k) {
                CIMParameter p = m.getParameter(k);
                dropQualifiers(p);
            }
        }
        if (!o.includeClassOrigin) m.setClassOrigin(CIMName());
    }
    if (!o.includeQualifiers) dropQualifiers(c);
}

// An instance as a client asked for it; qualifiers of its properties come from the class.
void shapeInstance(CIMInstance& inst, const CIMConstClass& cls, const OutputOptions& o)
{
    for (Uint32 i = inst.getPropertyCount(); i-- > 0;) {
        CIMProperty p = inst.getProperty(i);
        if (!listedIn(o.propertyList, str(p.getName()))) {
            inst.removeProperty(i);
            continue;
        }
        if (o.includeQualifiers) {
            Uint32 d = cls.findProperty(p.getName());
            if (d != PEG_NOT_FOUND) {
                CIMConstProperty decl = cls.getProperty(d);
                for (Uint32 q = 0; q < decl.getQualifierCount(); ++q)
                    p.addQualifier(decl.getQualifier(q).clone());
            }
        }
        if (!o.includeClassOrigin) p.setClassOrigin(CIMName());
    }
}

class Call {
public:
    explicit Call(const CimRequest& r) : r_(r) {}

    std::string ns() const { return str(r_.nameSpace.getString()); }

    // Refuses parameters the operation does not define.
    void allow(std::initializer_list<const char*> names) const
    {
        for (const auto& p : r_.iparams) {
            bool ok = false;
            for (const char* n : names)
                if (nameEq(p.name, n)) ok = true;
            if (!ok) throw CimError(kCimInvalidParameter, "unexpected parameter " + p.name);
        }
    }

    const IParamValue* param(const char* name) const
    {
        const IParamValue* p = r_.findIParam(name);
        return p && p->kind != IParamValue::Kind::Null ? p : nullptr;
    }

    bool boolParam(const char* name, bool dflt) const
    {
        try {
            return orv::cimxml::iparamBoolean(r_, name, dflt);
        } catch (const std::invalid_argument&) {
            throw CimError(kCimInvalidParameter, std::string(name) + " must be TRUE or FALSE");
        }
    }

    std::string className(const char* name, bool required) const
    {
        const IParamValue* p = param(name);
        if (!p) {
            if (required) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
            return "";
        }
        if (p->kind != IParamValue::Kind::ClassName)
            throw CimError(kCimInvalidParameter, std::string(name) + " must be a CLASSNAME");
        return str(p->className);
    }

    CIMObjectPath instanceName(const char* name) const
    {
        const IParamValue* p = param(name);
        if (!p) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
        if (p->kind != IParamValue::Kind::InstanceName)
            throw CimError(kCimInvalidParameter, std::string(name) + " must be an INSTANCENAME");
        return p->path;
    }

    std::string stringParam(const char* name) const
    {
        const IParamValue* p = param(name);
        if (!p) throw CimError(kCimInvalidParameter, std::string("missing parameter ") + name);
        if (p->kind != IParamValue::Kind::Value)
            throw CimError(kCimInvalidParameter, std::string(name) + " must be a VALUE");
        String s;
        p->value.get(s);
        return str(s);
    }

    // Null (absent) means every property; an empty list means none.
    bool propertyList(std::vector<std::string>& out) const
    {
        const IParamValue* p = param("PropertyList");
        if (!p) return false;
        if (p->kind != IParamValue::Kind::ValueArray)
            throw CimError(kCimInvalidParameter, "PropertyList must be a VALUE.ARRAY");
        Array<String> a;
        p->value.get(a);
        for (Uint32 i = 0; i < a.size(); ++i) out.push_back(str(a[i]));
        return true;
    }

private:
    const CimRequest& r_;
};

std::vector<GivenProperty> givenProperties(const CIMInstance& inst)
{
    std::vector<GivenProperty> r;
    for (Uint32 i = 0; i < inst.getPropertyCount(); ++i) {
        CIMConstProperty p = inst.getProperty(i);
        r.push_back(GivenProperty{str(p.getName()), p.getValue(), true});
    }
    return r;
}

}  // namespace

std::string CimHandler::uriEncode(const std::string& s)
{
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

HttpAnswer CimHandler::badRequest(const std::string& cimError, const std::string& detail)
{
    HttpAnswer a;
    a.status = 400;
    a.headers.push_back({"CIMError", cimError});
    if (!detail.empty()) a.headers.push_back({"PGErrorDetail", uriEncode(detail)});
    return a;
}

CimHandler CimHandler::create(Repository& repo)
{
    return CimHandler(repo);
}

void CimHandler::addProvider(const std::string& className, const std::string& methodName,
                             MethodProvider provider)
{
    providers_[lowerName(className) + "." + lowerName(methodName)] = std::move(provider);
}

namespace {

using K = CimResponse::ReturnKind;

// What one operation works with: the request, the repository and where the
// answer goes (`resp`, or `content` for answers the repository writes whole).
struct Op {
    const CimRequest& req;
    Call c;
    std::string ns;
    Repository& repo;
    IndicationService* indications;
    const std::map<std::string, MethodProvider>& providers;
    const Caller& caller;
    const AccessPolicy& access;
    CimResponse& resp;
    std::string& content;
};

using Kind = IndicationService::Kind;

CimError accessDenied(const Caller& caller)
{
    return CimError(kCimAccessDenied,
                    "User (" + caller.user + ") is not authorized to perform this operation.");
}

bool mayChangeModel(const Op& op)
{
    if (op.caller.privileged) return true;
    for (const auto& u : op.access.modelUsers)
        if (u == "*" || (!op.caller.user.empty() && u == op.caller.user)) return true;
    return false;
}

Kind kindOf(const Op& op, const std::string& className)
{
    return op.indications ? op.indications->kindOf(op.ns, className) : Kind::None;
}

// Filters, listener destinations and subscriptions are the privileged users'
// unless others may keep their own; a client nobody knows never may.
void checkSubscriptionUse(const Op& op)
{
    if (op.caller.privileged) return;
    if (!op.access.userSubscriptions || op.caller.user.empty()) throw accessDenied(op.caller);
}

// Whether an unprivileged caller made the subscription class instance `path` (as stored).
bool ownsIt(const Op& op, const CIMObjectPath& path)
{
    return op.access.userSubscriptions && !op.caller.user.empty() &&
           op.indications->creatorOf(path) == op.caller.user;
}

// Whether an enumeration shows the caller the instance `path` of `className`.
bool visible(const Op& op, const std::string& className, const CIMObjectPath& path)
{
    return op.caller.privileged || kindOf(op, className) == Kind::None || ownsIt(op, path);
}

// Before an operation on the instance at `path`; `change` for changes.
void checkInstanceAccess(const Op& op, const CIMObjectPath& path, bool change)
{
    if (op.caller.privileged) return;
    if (kindOf(op, str(path.getClassName())) != Kind::None) checkSubscriptionUse(op);
    if (op.indications && IndicationService::isInteropNamespace(op.ns)) {
        // By the class it was made of, whatever class the path names.
        CIMInstance stored = op.repo.getInstance(op.ns, path);
        if (kindOf(op, str(stored.getClassName())) != Kind::None) {
            checkSubscriptionUse(op);
            if (!ownsIt(op, stored.getPath())) throw accessDenied(op.caller);
            return;
        }
    }
    if (change && !mayChangeModel(op)) throw accessDenied(op.caller);
}

// A change in place, with the instance before and after for the indication.
template <class Change>
void modifyNotifying(Op& op, const CIMObjectPath& path, Change change)
{
    if (!op.indications) return change();
    op.indications->prepareModify(op.ns, path);
    CIMInstance before = op.repo.getInstance(op.ns, path);
    change();
    op.indications->modified(op.ns, before, op.repo.getInstance(op.ns, path));
}

void getClass(Op& op)
{
    const Call& c = op.c;
    c.allow({"ClassName", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin", "PropertyList"});
    OutputOptions o;
    o.localOnly = c.boolParam("LocalOnly", true);
    o.includeQualifiers = c.boolParam("IncludeQualifiers", true);
    o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
    std::vector<std::string> pl;
    if (c.propertyList(pl)) o.propertyList = &pl;
    CIMClass cls = op.repo.getClass(op.ns, c.className("ClassName", true));
    shapeClass(cls, o);
    op.resp.hasReturnValue = true;
    op.resp.kind = K::Classes;
    op.resp.classes.append(cls);
}

void listClasses(Op& op, bool names)
{
    const Call& c = op.c;
    if (names)
        c.allow({"ClassName", "DeepInheritance"});
    else
        c.allow({"ClassName", "DeepInheritance", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin"});
    OutputOptions o;
    o.localOnly = c.boolParam("LocalOnly", true);
    o.includeQualifiers = c.boolParam("IncludeQualifiers", true);
    o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
    auto classes = op.repo.enumerateClasses(op.ns, c.className("ClassName", false),
                                            c.boolParam("DeepInheritance", false));
    op.resp.hasReturnValue = true;
    op.resp.kind = names ? K::ClassNames : K::Classes;
    for (auto& cls : classes) {
        if (names) {
            op.resp.classNames.append(cls.getClassName());
        } else {
            shapeClass(cls, o);
            op.resp.classes.append(cls);
        }
    }
}

void enumerateClassNames(Op& op)
{
    listClasses(op, true);
}

void enumerateClasses(Op& op)
{
    listClasses(op, false);
}

void getInstance(Op& op)
{
    const Call& c = op.c;
    c.allow({"InstanceName", "LocalOnly", "IncludeQualifiers", "IncludeClassOrigin", "PropertyList"});
    CIMObjectPath path = c.instanceName("InstanceName");
    checkInstanceAccess(op, path, false);
    InstanceView view;
    // LocalOnly is deprecated for instances and treated as false, as
    // current servers do: honouring it would drop inherited keys.
    c.boolParam("LocalOnly", true);
    view.includeQualifiers = c.boolParam("IncludeQualifiers", false);
    view.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
    std::vector<std::string> pl;
    if (c.propertyList(pl)) view.propertyList = &pl;
    orv::cimxml::openIntrinsicAnswer(op.content, op.resp.messageId, op.resp.methodName);
    op.repo.writeInstance(op.ns, path, view, op.content);
    orv::cimxml::closeIntrinsicAnswer(op.content);
}

void enumerateInstanceNames(Op& op)
{
    op.c.allow({"ClassName"});
    std::string className = op.c.className("ClassName", true);
    if (kindOf(op, className) != Kind::None) checkSubscriptionUse(op);
    if (!op.caller.privileged && op.indications && IndicationService::isInteropNamespace(op.ns)) {
        // Only what the caller may see: the names one by one.
        op.resp.hasReturnValue = true;
        op.resp.kind = K::InstanceNames;
        for (const auto& path : op.repo.enumerateInstanceNames(op.ns, className))
            if (visible(op, str(path.getClassName()), path)) op.resp.instanceNames.append(path);
        return;
    }
    orv::cimxml::openIntrinsicAnswer(op.content, op.resp.messageId, op.resp.methodName);
    op.repo.writeInstanceNames(op.ns, className, op.content);
    orv::cimxml::closeIntrinsicAnswer(op.content);
}

void enumerateInstances(Op& op)
{
    const Call& c = op.c;
    c.allow({"ClassName", "LocalOnly", "DeepInheritance", "IncludeQualifiers", "IncludeClassOrigin",
             "PropertyList"});
    std::string className = c.className("ClassName", true);
    c.boolParam("LocalOnly", true);  // treated as false, see getInstance
    bool deep = c.boolParam("DeepInheritance", true);
    OutputOptions o;
    o.includeQualifiers = c.boolParam("IncludeQualifiers", false);
    o.includeClassOrigin = c.boolParam("IncludeClassOrigin", false);
    std::vector<std::string> pl;
    bool hasList = c.propertyList(pl);
    if (kindOf(op, className) != Kind::None) checkSubscriptionUse(op);
    CIMClass base = op.repo.getClass(op.ns, className);
    std::map<std::string, CIMClass> classes;
    op.resp.hasReturnValue = true;
    op.resp.kind = K::NamedInstances;
    for (auto& inst : op.repo.enumerateInstances(op.ns, className)) {
        std::string cn = str(inst.getClassName());
        if (!visible(op, cn, inst.getPath())) continue;
        auto it = classes.find(lowerName(cn));
        if (it == classes.end()) it = classes.emplace(lowerName(cn), op.repo.getClass(op.ns, cn)).first;
        // Without DeepInheritance only the requested class's properties go out.
        std::vector<std::string> effective;
        OutputOptions io = o;
        if (!deep || hasList) {
            const CIMClass& ic = it->second;
            for (Uint32 i = 0; i < ic.getPropertyCount(); ++i) {
                std::string pn = str(ic.getProperty(i).getName());
                if ((deep || base.findProperty(ic.getProperty(i).getName()) != PEG_NOT_FOUND) &&
                    (!hasList || listedIn(&pl, pn)))
                    effective.push_back(pn);
            }
            io.propertyList = &effective;
        }
        shapeInstance(inst, it->second, io);
        op.resp.instances.append(inst);
    }
}

void createInstance(Op& op)
{
    op.c.allow({"NewInstance"});
    const IParamValue* p = op.c.param("NewInstance");
    if (!p) throw CimError(kCimInvalidParameter, "missing parameter NewInstance");
    if (p->kind != IParamValue::Kind::Instance)
        throw CimError(kCimInvalidParameter, "NewInstance must be an INSTANCE");
    std::string className = str(p->instance.getClassName());
    std::vector<GivenProperty> props = givenProperties(p->instance);
    Kind kind = kindOf(op, className);
    if (kind != Kind::None)
        checkSubscriptionUse(op);
    else if (!mayChangeModel(op))
        throw accessDenied(op.caller);
    if (op.indications) op.indications->prepareCreate(op.ns, className, props);
    // An unprivileged user's subscription joins a filter and a destination of its own.
    bool counted = kind != Kind::None && !op.caller.privileged;
    if (counted && kind == Kind::Subscription) {
        for (const auto& gp : props) {
            if (!nameEq(gp.name, "Filter") && !nameEq(gp.name, "Handler")) continue;
            CIMObjectPath ref;
            gp.value.get(ref);  // a reference: checked above
            ref.setNameSpace(CIMNamespaceName());
            ref.setHost(String());
            if (!ownsIt(op, op.repo.getInstance(op.ns, ref).getPath())) throw accessDenied(op.caller);
        }
    }
    if (counted) op.indications->claim(op.caller.user, kind);
    CIMObjectPath path;
    try {
        path = op.repo.createInstance(op.ns, className, props);
    } catch (...) {
        if (counted) op.indications->unclaim(op.caller.user, kind);
        throw;
    }
    if (counted) op.indications->recordCreator(path, op.caller.user, kind);
    if (op.indications) op.indications->created(op.ns, op.repo.getInstance(op.ns, path));
    op.resp.hasReturnValue = true;
    op.resp.kind = K::InstanceNames;
    op.resp.instanceNames.append(path);
}

void deleteInstance(Op& op)
{
    op.c.allow({"InstanceName"});
    CIMObjectPath path = op.c.instanceName("InstanceName");
    checkInstanceAccess(op, path, true);
    if (op.indications) {
        CIMInstance gone = op.repo.getInstance(op.ns, path);
        op.repo.deleteInstance(op.ns, path);
        op.indications->forgetCreator(gone.getPath());
        op.indications->deleted(op.ns, gone);
    } else {
        op.repo.deleteInstance(op.ns, path);
    }
}

void modifyInstance(Op& op)
{
    const Call& c = op.c;
    c.allow({"ModifiedInstance", "IncludeQualifiers", "PropertyList"});
    const IParamValue* p = c.param("ModifiedInstance");
    if (!p) throw CimError(kCimInvalidParameter, "missing parameter ModifiedInstance");
    if (p->kind != IParamValue::Kind::NamedInstance)
        throw CimError(kCimInvalidParameter, "ModifiedInstance must be a VALUE.NAMEDINSTANCE");
    const CIMObjectPath& path = p->instance.getPath();
    if (!nameEq(str(p->instance.getClassName()), str(path.getClassName())))
        throw CimError(kCimInvalidParameter, "instance class " + str(p->instance.getClassName()) +
                                                 " differs from its path " + str(path.toString()));
    c.boolParam("IncludeQualifiers", true);
    std::vector<std::string> pl;
    bool hasList = c.propertyList(pl);
    checkInstanceAccess(op, path, true);
    modifyNotifying(op, path, [&] {
        op.repo.modifyInstance(op.ns, path, givenProperties(p->instance), hasList ? &pl : nullptr);
    });
}

void getProperty(Op& op)
{
    op.c.allow({"InstanceName", "PropertyName"});
    CIMObjectPath path = op.c.instanceName("InstanceName");
    checkInstanceAccess(op, path, false);
    op.resp.value = op.repo.getProperty(op.ns, path, op.c.stringParam("PropertyName"));
    op.resp.hasReturnValue = true;
    op.resp.kind = K::Value;
}

void setProperty(Op& op)
{
    op.c.allow({"InstanceName", "PropertyName", "NewValue"});
    CIMObjectPath path = op.c.instanceName("InstanceName");
    std::string name = op.c.stringParam("PropertyName");
    checkInstanceAccess(op, path, true);
    CIMValue v;  // absent NewValue sets null
    if (const IParamValue* p = op.c.param("NewValue")) {
        if (p->kind == IParamValue::Kind::Value || p->kind == IParamValue::Kind::ValueArray)
            v = p->value;
        else if (p->kind == IParamValue::Kind::ValueReference)
            v = CIMValue(p->path);
        else
            throw CimError(kCimInvalidParameter, "NewValue must be a value");
    }
    modifyNotifying(op, path, [&] { op.repo.setProperty(op.ns, path, name, v, false); });
}

// An extrinsic method: the target, then its parameters, then its provider.
void invokeMethod(Op& op)
{
    if (!mayChangeModel(op)) throw accessDenied(op.caller);
    const CimRequest& creq = op.req;
    const std::string& method = creq.methodName;
    CIMObjectPath target = creq.target;
    target.setNameSpace(CIMNamespaceName());
    CIMClass cls;
    try {
        cls = op.repo.getClass(op.ns, str(target.getClassName()));
    } catch (const CimError&) {
        throw CimError(kCimNotFound, str(target.getClassName()));
    }
    Uint32 mi = PEG_NOT_FOUND;
    try {
        mi = cls.findMethod(CIMName(String(method.c_str())));
    } catch (const Exception&) {
    }
    if (mi == PEG_NOT_FOUND) throw CimError(kCimMethodNotFound, method);
    CIMConstMethod m = cls.getMethod(mi);
    std::string mname = str(m.getName());
    if (target.getKeyBindings().size() != 0) op.repo.getInstance(op.ns, target);  // NOT_FOUND when it is gone
    std::vector<ParamValue> in;
    for (Uint32 i = 0; i < creq.params.size(); ++i) {
        const CIMParamValue& pv = creq.params[i];
        std::string pname = str(pv.getParameterName());
        Uint32 di = PEG_NOT_FOUND;
        try {
            di = m.findParameter(CIMName(pv.getParameterName()));
        } catch (const Exception&) {
        }
        if (di == PEG_NOT_FOUND)
            throw CimError(kCimInvalidParameter, "method " + mname + " has no parameter " + pname);
        CIMConstParameter decl = m.getParameter(di);
        for (const auto& prev : in)
            if (nameEq(prev.name, pname))
                throw CimError(kCimInvalidParameter, "parameter " + pname + " given twice");
        std::string dname = str(decl.getName());
        in.push_back(ParamValue{dname, coerceValue(decl.getType(), decl.isArray(), pv.getValue(),
                                                   pv.isTyped(), "parameter " + dname)});
    }
    auto it = op.providers.find(lowerName(str(m.getClassOrigin())) + "." + lowerName(mname));
    if (it == op.providers.end()) throw CimError(kCimMethodNotAvailable, method);
    std::vector<ParamValue> out;
    op.resp.returnValue = it->second(op.repo, op.ns, target, m, in, out);
    for (const auto& p : out) op.resp.outParams.append(CIMParamValue(String(p.name.c_str()), p.value, true));
}

struct IntrinsicOperation {
    const char* name;  // as the request spells it (names are matched exactly)
    void (*run)(Op&);
};

const IntrinsicOperation kIntrinsicOperations[] = {
    {"GetClass", getClass},
    {"EnumerateClassNames", enumerateClassNames},
    {"EnumerateClasses", enumerateClasses},
    {"GetInstance", getInstance},
    {"EnumerateInstanceNames", enumerateInstanceNames},
    {"EnumerateInstances", enumerateInstances},
    {"CreateInstance", createInstance},
    {"DeleteInstance", deleteInstance},
    {"ModifyInstance", modifyInstance},
    {"GetProperty", getProperty},
    {"SetProperty", setProperty},
};

void (*findIntrinsic(const std::string& method))(Op&)
{
    for (const auto& o : kIntrinsicOperations)
        if (method == o.name) return o.run;
    return nullptr;
}

}  // namespace

HttpAnswer CimHandler::handle(const HttpRequestInfo& req) const
{
    if (!req.hasCimOperation)
        return badRequest("unsupported-operation", "the CIMOperation header is missing");
    if (!nameEq(req.cimOperation, "MethodCall"))
        return badRequest("unsupported-operation", "CIMOperation must be MethodCall");
    if (!req.contentType.empty() && req.contentType.find("xml") == std::string::npos)
        return badRequest("request-not-valid", "Content-Type must be application/xml or text/xml");

    // Counted before parsing: a document's tokens cost many times its bytes.
    size_t tags = static_cast<size_t>(std::count(req.body.begin(), req.body.end(), '<'));
    size_t attributes = static_cast<size_t>(std::count(req.body.begin(), req.body.end(), '='));
    if (tags > kMaxRequestTags)
        return badRequest("request-not-valid",
                          "the request has more than " + std::to_string(kMaxRequestTags) + " tags");
    if (attributes > kMaxRequestAttributes)
        return badRequest("request-not-valid", "the request has more than " +
                                                   std::to_string(kMaxRequestAttributes) + " attributes");

    CimRequest creq;
    int code = 0;
    std::string description;
    try {
        orv::cimxml::readRequest(req.body, creq);
    } catch (const orv::cimxml::XmlValueError& e) {
        // Well-formed, but a value is not of its declared type: a CIM error
        // once the operation is known.
        if (creq.methodName.empty()) return badRequest("request-not-valid", e.what());
        code = kCimTypeMismatch;
        description = std::string(cimStatusName(code)) + ": " + e.problem();
    } catch (const orv::cimxml::XmlError& e) {
        std::string what = e.what();
        if (what.find("multiple operations are not supported") != std::string::npos)
            return badRequest("unsupported-operation", what);
        return badRequest("request-not-valid", what);
    }
    const std::string& method = creq.methodName;
    if (!req.cimMethod.empty() && req.cimMethod != method)
        return badRequest("header-mismatch",
                          "CIMMethod header '" + req.cimMethod + "' does not match '" + method + "'");

    CimResponse resp;
    resp.messageId = creq.messageId;
    resp.intrinsic = creq.intrinsic;
    resp.methodName = method;
    // GetInstance and EnumerateInstanceNames: the whole answer, its content as
    // the repository writes it from its stored form.
    std::string content;
    try {
        if (code == 0) {
            const std::string ns = str(creq.nameSpace.getString());
            Op op{creq, Call(creq), ns, *repo_, indications_, providers_, req.caller, access_, resp, content};
            if (!op.repo.hasNamespace(op.ns)) throw CimError(kCimInvalidNamespace, op.ns);
            void (*run)(Op&) = creq.intrinsic ? findIntrinsic(method) : invokeMethod;
            if (!run) throw CimError(kCimNotSupported, method);
            run(op);
        }  // else reported below
    } catch (const CimError& e) {
        code = e.code();
        description = std::string(cimStatusName(code)) + ": " + e.what();
    } catch (const Exception& e) {
        code = kCimFailed;
        description = std::string(cimStatusName(code)) + ": " + str(e.getMessage());
    } catch (const orv::cimxml::EncodeError& e) {
        code = kCimFailed;
        description = std::string(cimStatusName(code)) + ": " + e.what();
    }

    HttpAnswer a;
    auto writeError = [&] {
        CimResponse err;
        err.messageId = resp.messageId;
        err.intrinsic = resp.intrinsic;
        err.methodName = resp.methodName;
        if (!req.wantsTrailers) {
            err.isError = true;
            err.errorCode = static_cast<CIMStatusCode>(code);
            err.errorDescription = String(description.c_str());
        }
        a.body = orv::cimxml::writeResponse(err, orv::cimxml::Layout::OneElementPerLine);
    };
    if (code != 0) {
        writeError();
    } else if (!content.empty()) {
        a.body = std::move(content);
    } else {
        try {
            a.body = orv::cimxml::writeResponse(resp, orv::cimxml::Layout::OneElementPerLine);
        } catch (const orv::cimxml::EncodeError& e) {
            code = kCimFailed;
            description = std::string(cimStatusName(code)) + ": " + e.what();
            writeError();
        }
    }
    a.headers.push_back({"Content-Type", "application/xml; charset=utf-8"});
    a.headers.push_back({"CIMOperation", "MethodResponse"});
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
