#include "repo/Repository.h"

#include "mof/MofLexer.h"
#include "mof/MofParser.h"

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace minicimd {

using mof::MofError;

namespace {

bool isIntegerType(DataType t) { return t >= DataType::Uint8 && t <= DataType::Sint64; }
bool isRealType(DataType t) { return t == DataType::Real32 || t == DataType::Real64; }

KeyBinding::Kind keyKindOf(DataType t) {
    if (t == DataType::Boolean) return KeyBinding::Boolean;
    if (isIntegerType(t) || isRealType(t)) return KeyBinding::Numeric;
    if (t == DataType::Reference) return KeyBinding::Reference;
    return KeyBinding::String;
}

std::string normalizeNs(std::string ns) {
    while (!ns.empty() && ns.front() == '/') ns.erase(0, 1);
    while (!ns.empty() && ns.back() == '/') ns.pop_back();
    return ns;
}

// Identity text of a reference: class and keys, case-folded where CIM ignores case.
std::string refIdentity(const ObjectPath& p) {
    ObjectPath q = p;
    q.host.clear();
    q.nameSpace.clear();
    q.className = lowerName(q.className);
    for (auto& k : q.keys) k.name = lowerName(k.name);
    return q.toString();
}

}  // namespace

Value coerceValue(DataType type, bool isArray, const RawValue& raw, const std::string& what) {
    Value v = Value::nullOf(type, isArray);
    if (raw.null) return v;
    if (raw.isArray != isArray)
        throw CimError(kCimTypeMismatch, what + (isArray ? " is an array" : " is not an array"));
    if (raw.typed && raw.type != type)
        throw CimError(kCimTypeMismatch, what + " is " + mof::dataTypeName(type) + ", not " +
                                             mof::dataTypeName(raw.type));
    v.null = false;
    if (type == DataType::Reference) {
        if (!raw.isRef) {
            for (const auto& t : raw.texts) {
                Element e;
                e.ref = std::make_shared<ObjectPath>(ObjectPath::parse(t));
                v.items.push_back(std::move(e));
            }
        } else {
            for (const auto& r : raw.refs) {
                Element e;
                e.ref = std::make_shared<ObjectPath>(r);
                v.items.push_back(std::move(e));
            }
        }
        return v;
    }
    if (raw.isRef) throw CimError(kCimTypeMismatch, what + " is " + mof::dataTypeName(type) + ", not a reference");
    for (const auto& t : raw.texts) {
        try {
            v.items.push_back(Element{canonicalScalar(type, t), nullptr});
        } catch (const CimError& e) {
            throw CimError(kCimTypeMismatch, what + ": " + e.what());
        }
    }
    return v;
}

std::unique_ptr<Repository> Repository::create() { return std::unique_ptr<Repository>(new Repository()); }

void Repository::addNamespace(const std::string& ns) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    nsForLoad(ns);
}

Repository::Namespace& Repository::nsForLoad(const std::string& nsIn) {
    std::string ns = normalizeNs(nsIn);
    if (ns.empty()) throw std::runtime_error("empty namespace name");
    Namespace& n = namespaces_[lowerName(ns)];
    if (n.name.empty()) n.name = ns;
    return n;
}

bool Repository::hasNamespace(const std::string& ns) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    return namespaces_.count(lowerName(normalizeNs(ns))) != 0;
}

std::vector<std::string> Repository::namespaces() const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    std::vector<std::string> r;
    for (const auto& kv : namespaces_) r.push_back(kv.second.name);
    return r;
}

void Repository::loadMof(const std::string& ns, const std::string& path) {
    struct stat st;
    std::vector<std::string> files;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string top = path + "/schema.mof";
        if (stat(top.c_str(), &st) == 0) {
            files.push_back(top);
        } else {
            DIR* d = opendir(path.c_str());
            if (!d) throw MofError(mof::SourcePos{path, 0, 0}, "cannot read directory");
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mof") == 0) files.push_back(path + "/" + n);
            }
            closedir(d);
            std::sort(files.begin(), files.end());
        }
    } else {
        files.push_back(path);
    }
    for (const auto& f : files) {
        mof::Compilation c;
        mof::MofParser::parseFile(f, c, ns);
        loadCompilation(ns, c);
    }
}

void Repository::loadCompilation(const std::string& ns, const mof::Compilation& c) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    for (const auto& p : c.order) {
        switch (p.kind) {
        case mof::Production::Qualifier: {
            const auto& d = c.qualifiers[p.index];
            loadQualifier(nsForLoad(d.nameSpace.empty() ? ns : d.nameSpace), d);
            break;
        }
        case mof::Production::Class: {
            const auto& d = c.classes[p.index];
            loadClass(nsForLoad(d.nameSpace.empty() ? ns : d.nameSpace), d);
            break;
        }
        case mof::Production::Instance: {
            const auto& d = c.instances[p.index];
            loadInstance(nsForLoad(d.nameSpace.empty() ? ns : d.nameSpace), d);
            break;
        }
        }
    }
    for (auto& kv : namespaces_) kv.second.aliases.clear();  // aliases live for one compilation
}

RawValue Repository::rawFromMof(const Namespace& n, const mof::Value& v) const {
    RawValue r;
    if (v.isNullScalar()) return r;
    r.null = false;
    r.isArray = v.isArray;
    for (const auto& l : v.items) {
        switch (l.kind) {
        case mof::LiteralKind::Null:
            throw MofError(l.pos, "null cannot be an array element");
        case mof::LiteralKind::Boolean:
            r.texts.push_back(l.boolValue ? "TRUE" : "FALSE");
            break;
        case mof::LiteralKind::Integer:
            r.texts.push_back((l.negative ? "-" : "") + std::to_string(l.magnitude));
            break;
        case mof::LiteralKind::Real:
            r.texts.push_back(formatReal(DataType::Real64, l.realValue));
            break;
        case mof::LiteralKind::String:
            r.texts.push_back(l.text);
            break;
        case mof::LiteralKind::Char16: {
            std::string s;
            mof::appendUtf8(s, l.char16);
            r.texts.push_back(s);
            break;
        }
        case mof::LiteralKind::AliasRef: {
            auto it = n.aliases.find(lowerName(l.text));
            if (it == n.aliases.end()) throw MofError(l.pos, "alias '$" + l.text + "' is not defined before its use");
            r.isRef = true;
            r.refs.push_back(it->second);
            break;
        }
        }
    }
    if (r.isRef && r.refs.size() != v.items.size()) throw MofError(v.pos, "an array mixes aliases and other values");
    return r;
}

// Literal kinds must suit the declared type; canonicalScalar then checks ranges.
static void checkLiteralKinds(const mof::Value& v, DataType t, const std::string& what) {
    for (const auto& l : v.items) {
        bool ok = true;
        switch (l.kind) {
        case mof::LiteralKind::Null: break;
        case mof::LiteralKind::Boolean: ok = t == DataType::Boolean; break;
        case mof::LiteralKind::Integer: ok = isIntegerType(t) || isRealType(t); break;
        case mof::LiteralKind::Real: ok = isRealType(t); break;
        case mof::LiteralKind::String:
            ok = t == DataType::String || t == DataType::Datetime || t == DataType::Reference;
            break;
        case mof::LiteralKind::Char16: ok = t == DataType::Char16; break;
        case mof::LiteralKind::AliasRef: ok = t == DataType::Reference; break;
        }
        if (!ok) throw MofError(l.pos, "value does not suit " + what + " of type " + mof::dataTypeName(t));
    }
}

void Repository::loadQualifier(Namespace& n, const mof::QualifierDecl& d) {
    QualifierType q;
    q.name = d.name;
    q.type = d.type;
    q.isArray = d.isArray;
    q.arraySize = d.arraySize;
    q.scopes = d.scopes;
    if (d.flavors.overridable) q.flavor.overridable = *d.flavors.overridable;
    if (d.flavors.toSubclass) q.flavor.toSubclass = *d.flavors.toSubclass;
    q.flavor.translatable = d.flavors.translatable;
    q.defaultValue = Value::nullOf(d.type, d.isArray);
    if (d.defaultValue) {
        checkLiteralKinds(*d.defaultValue, d.type, "qualifier '" + d.name + "'");
        try {
            q.defaultValue = coerceValue(d.type, d.isArray, rawFromMof(n, *d.defaultValue), "qualifier '" + d.name + "'");
        } catch (const CimError& e) {
            throw MofError(d.defaultValue->pos, e.what());
        }
    }
    std::string key = lowerName(d.name);
    auto it = n.qualifierTypes.find(key);
    if (it != n.qualifierTypes.end()) {
        const QualifierType& o = it->second;
        // Loading the same declarations twice (several schemas) is harmless.
        if (o.type != q.type || o.isArray != q.isArray || !(o.defaultValue == q.defaultValue))
            throw MofError(d.pos, "qualifier '" + d.name + "' is already declared differently");
        return;
    }
    n.qualifierTypes.emplace(key, std::move(q));
}

std::vector<Qualifier> Repository::resolveQualifiers(const Namespace& n, const std::vector<mof::QualifierUse>& uses,
                                                     const std::vector<Qualifier>* inherited, uint32_t scope,
                                                     const std::string& where) const {
    // As OpenPegasus orders them: inherited qualifiers that are not overridden
    // (marked propagated), then the local ones in source order.
    std::vector<Qualifier> out;
    std::vector<Qualifier> locals;
    std::vector<bool> overridden(inherited ? inherited->size() : 0, false);
    for (const auto& u : uses) {
        auto it = n.qualifierTypes.find(lowerName(u.name));
        if (it == n.qualifierTypes.end())
            throw MofError(u.pos, "qualifier '" + u.name + "' on " + where + " is not declared");
        const QualifierType& t = it->second;
        if (scope && !(t.scopes & scope))
            throw MofError(u.pos, "qualifier '" + t.name + "' is not allowed on " + where);
        Qualifier q;
        q.name = u.name;  // spelled as used, as OpenPegasus reports it
        q.flavor = t.flavor;
        if (u.flavors.overridable) q.flavor.overridable = *u.flavors.overridable;
        if (u.flavors.toSubclass) q.flavor.toSubclass = *u.flavors.toSubclass;
        if (u.flavors.translatable) q.flavor.translatable = true;
        if (u.value) {
            mof::Value val = *u.value;
            // A scalar given to an array qualifier is the one-element array ("Values("x")").
            if (t.isArray && !val.isArray && !val.isNullScalar()) val.isArray = true;
            checkLiteralKinds(val, t.type, "qualifier '" + t.name + "'");
            try {
                q.value = coerceValue(t.type, t.isArray, rawFromMof(n, val), "qualifier '" + t.name + "'");
            } catch (const CimError& e) {
                throw MofError(u.pos, e.what());
            }
        } else if (t.type == DataType::Boolean && !t.isArray) {
            q.value = Value::nullOf(DataType::Boolean, false);
            q.value.null = false;
            q.value.items.push_back(Element{"TRUE", nullptr});
        } else {
            q.value = t.defaultValue;
        }
        for (size_t i = 0; inherited && i < inherited->size(); ++i) {
            const Qualifier& prev = (*inherited)[i];
            if (!prev.flavor.toSubclass || !nameEq(prev.name, q.name)) continue;
            if (!prev.flavor.overridable && !(prev.value == q.value))
                throw MofError(u.pos, "qualifier '" + t.name + "' on " + where +
                                          " cannot be overridden (it is DisableOverride)");
            // An overriding use keeps inherited flavors it does not restate.
            if (!u.flavors.overridable) q.flavor.overridable = prev.flavor.overridable;
            overridden[i] = true;
        }
        locals.push_back(std::move(q));
    }
    for (size_t i = 0; inherited && i < inherited->size(); ++i) {
        const Qualifier& prev = (*inherited)[i];
        if (!prev.flavor.toSubclass || overridden[i]) continue;
        Qualifier c = prev;
        c.propagated = true;
        out.push_back(std::move(c));
    }
    for (auto& q : locals) out.push_back(std::move(q));
    return out;
}

void Repository::loadClass(Namespace& n, const mof::ClassDecl& d) {
    std::string key = lowerName(d.name);
    if (n.classes.count(key)) throw MofError(d.pos, "class '" + d.name + "' is already defined in namespace '" + n.name + "'");
    const Class* super = nullptr;
    if (!d.superClass.empty()) {
        auto it = n.classes.find(lowerName(d.superClass));
        if (it == n.classes.end())
            throw MofError(d.pos, "superclass '" + d.superClass + "' of class '" + d.name + "' is not defined");
        super = &it->second;
    }
    Class c;
    c.name = d.name;
    c.superClass = super ? super->name : "";
    bool isAssoc = false;
    bool isIndication = false;
    for (const auto& u : d.qualifiers) {
        if (nameEq(u.name, "Association")) isAssoc = true;
        if (nameEq(u.name, "Indication")) isIndication = true;
    }
    if (super && qualifierIsTrue(super->qualifiers, "Association")) isAssoc = true;
    if (super && qualifierIsTrue(super->qualifiers, "Indication")) isIndication = true;
    uint32_t classScope = isAssoc ? mof::ScopeAssociation : isIndication ? mof::ScopeIndication : mof::ScopeClass;
    c.qualifiers = resolveQualifiers(n, d.qualifiers, super ? &super->qualifiers : nullptr, classScope,
                                     "class '" + d.name + "'");
    if (super) {
        for (const auto& p : super->properties) {
            // A feature inherited whole keeps all its qualifiers, Restricted
            // ones included, as OpenPegasus reports them; Restricted takes
            // effect where a subclass overrides the feature or for class
            // qualifiers.
            Property ip = p;
            ip.propagated = true;
            c.properties.push_back(std::move(ip));
        }
        for (const auto& m : super->methods) {
            Method im = m;
            im.propagated = true;
            c.methods.push_back(std::move(im));
        }
    }
    // Like OpenPegasus: inherited features keep their order, an override
    // moves to where the subclass declares it and keeps the class origin of
    // the first declaration.
    std::vector<Property> localProps;
    std::vector<Method> localMethods;
    for (const auto& pd : d.properties) {
        std::string where = "property '" + d.name + "." + pd.name + "'";
        Property* existing = nullptr;
        for (auto& p : c.properties)
            if (nameEq(p.name, pd.name)) existing = &p;
        if (existing && (existing->value.type != pd.type || existing->value.isArray != pd.isArray))
            throw MofError(pd.pos, where + " overrides an inherited property of another type");
        if (pd.type == DataType::Reference) {
            if (!n.classes.count(lowerName(pd.refClass)) && !nameEq(pd.refClass, d.name))
                throw MofError(pd.pos, "class '" + pd.refClass + "' of reference " + where + " is not defined");
        }
        Property p;
        p.name = pd.name;
        p.arraySize = pd.arraySize;
        p.refClass = pd.refClass;
        p.classOrigin = d.name;
        p.propagated = false;
        p.value = Value::nullOf(pd.type, pd.isArray);
        p.qualifiers = resolveQualifiers(n, pd.qualifiers, existing ? &existing->qualifiers : nullptr,
                                         pd.type == DataType::Reference ? mof::ScopeReference : mof::ScopeProperty,
                                         where);
        if (pd.defaultValue) {
            checkLiteralKinds(*pd.defaultValue, pd.type, where);
            try {
                p.value = coerceValue(pd.type, pd.isArray, rawFromMof(n, *pd.defaultValue), where);
            } catch (const CimError& e) {
                throw MofError(pd.defaultValue->pos, e.what());
            }
            if (pd.arraySize && p.value.items.size() > pd.arraySize)
                throw MofError(pd.defaultValue->pos, where + " holds at most " + std::to_string(pd.arraySize) + " elements");
        } else if (existing) {
            p.value = existing->value;  // an override without a value keeps the inherited default
        }
        if (existing) {
            p.classOrigin = existing->classOrigin;
            c.properties.erase(c.properties.begin() + (existing - c.properties.data()));
        }
        localProps.push_back(std::move(p));
    }
    for (auto& p : localProps) c.properties.push_back(std::move(p));
    for (const auto& md : d.methods) {
        std::string where = "method '" + d.name + "." + md.name + "'";
        Method* existing = nullptr;
        for (auto& m : c.methods)
            if (nameEq(m.name, md.name)) existing = &m;
        Method m;
        m.name = md.name;
        m.returnType = md.returnType;
        m.classOrigin = d.name;
        m.qualifiers = resolveQualifiers(n, md.qualifiers, existing ? &existing->qualifiers : nullptr,
                                         mof::ScopeMethod, where);
        for (const auto& pd : md.parameters) {
            Parameter p;
            p.name = pd.name;
            p.type = pd.type;
            p.isArray = pd.isArray;
            p.arraySize = pd.arraySize;
            p.refClass = pd.refClass;
            if (pd.type == DataType::Reference && !n.classes.count(lowerName(pd.refClass)) &&
                !nameEq(pd.refClass, d.name))
                throw MofError(pd.pos, "class '" + pd.refClass + "' of parameter '" + pd.name + "' is not defined");
            p.qualifiers = resolveQualifiers(n, pd.qualifiers, nullptr, mof::ScopeParameter,
                                             "parameter '" + pd.name + "' of " + where);
            m.parameters.push_back(std::move(p));
        }
        if (existing) {
            m.classOrigin = existing->classOrigin;
            c.methods.erase(c.methods.begin() + (existing - c.methods.data()));
        }
        localMethods.push_back(std::move(m));
    }
    for (auto& m : localMethods) c.methods.push_back(std::move(m));
    for (const auto& p : c.properties) {
        if (qualifierIsTrue(p.qualifiers, "Key")) {
            if (p.value.isArray) throw MofError(d.pos, "key property '" + p.name + "' of '" + d.name + "' is an array");
            c.keyNames.push_back(p.name);
        }
    }
    n.classOrder.push_back(key);
    n.classes.emplace(key, std::move(c));
}

void Repository::loadInstance(Namespace& n, const mof::InstanceDecl& d) {
    auto it = n.classes.find(lowerName(d.className));
    if (it == n.classes.end()) throw MofError(d.pos, "class '" + d.className + "' of the instance is not defined");
    const Class& cls = it->second;
    std::vector<RawProperty> props;
    for (const auto& pi : d.properties) {
        const Property* decl = cls.findProperty(pi.name);
        if (!decl) throw MofError(pi.pos, "class '" + cls.name + "' has no property '" + pi.name + "'");
        mof::Value v = pi.value;
        checkLiteralKinds(v, decl->value.type, "property '" + decl->name + "'");
        props.push_back(RawProperty{pi.name, rawFromMof(n, v)});
    }
    try {
        if (cls.isAbstract()) throw CimError(kCimFailed, "class '" + cls.name + "' is abstract");
        Instance inst = buildInstance(n, cls, props);
        std::string id = identityOf(cls, inst);
        auto& bucket = n.instances[lowerName(cls.name)];
        if (bucket.count(id)) throw CimError(kCimAlreadyExists, "instance " + pathOf(cls, inst).toString() + " already exists");
        ObjectPath path = pathOf(cls, inst);
        bucket.emplace(id, std::move(inst));
        ++n.instanceTotal;
        if (!d.alias.empty()) n.aliases[lowerName(d.alias)] = path;
    } catch (const CimError& e) {
        throw MofError(d.pos, e.what());
    }
}

// ---------------------------------------------------------------------------

const Repository::Namespace& Repository::nsOrThrow(const std::string& ns) const {
    auto it = namespaces_.find(lowerName(normalizeNs(ns)));
    if (it == namespaces_.end()) throw CimError(kCimInvalidNamespace, ns);
    return it->second;
}

Repository::Namespace& Repository::nsOrThrow(const std::string& ns) {
    auto it = namespaces_.find(lowerName(normalizeNs(ns)));
    if (it == namespaces_.end()) throw CimError(kCimInvalidNamespace, ns);
    return it->second;
}

const Class& Repository::classOrThrow(const Namespace& n, const std::string& name, int status) const {
    auto it = n.classes.find(lowerName(name));
    if (it == n.classes.end()) throw CimError(status, name);
    return it->second;
}

bool Repository::isSubclassOf(const Namespace& n, const std::string& cls, const std::string& base) const {
    std::string cur = lowerName(cls);
    std::string want = lowerName(base);
    for (int guard = 0; guard < 1000 && !cur.empty(); ++guard) {
        if (cur == want) return true;
        auto it = n.classes.find(cur);
        if (it == n.classes.end()) return false;
        cur = lowerName(it->second.superClass);
    }
    return false;
}

ObjectPath Repository::pathOf(const Class& cls, const Instance& inst) const {
    ObjectPath p;
    p.className = cls.name;
    for (const auto& k : cls.keyNames) {
        const Property* prop = inst.findProperty(k);
        KeyBinding b;
        b.name = k;
        b.kind = keyKindOf(prop->value.type);
        if (!prop->value.null && !prop->value.items.empty()) {
            if (b.kind == KeyBinding::Reference) b.ref = prop->value.items[0].ref;
            else b.value = prop->value.items[0].text;
        }
        p.keys.push_back(std::move(b));
    }
    return p;
}

std::string Repository::identityOf(const Class& cls, const Instance& inst) const {
    std::vector<std::string> parts;
    for (const auto& k : cls.keyNames) {
        const Property* p = inst.findProperty(k);
        std::string v = p->value.type == DataType::Reference ? refIdentity(*p->value.items[0].ref) : p->value.items[0].text;
        parts.push_back(lowerName(k) + "=" + v);
    }
    std::sort(parts.begin(), parts.end());
    std::string id;
    for (const auto& s : parts) id += s + '\x1f';
    return id;
}

std::string Repository::identityOfPath(const Namespace& n, const Class& cls, const ObjectPath& path) const {
    (void)n;
    if (path.keys.size() != cls.keyNames.size())
        throw CimError(kCimInvalidParameter, "object path " + path.toString() + " does not give the " +
                                                 std::to_string(cls.keyNames.size()) + " key(s) of class " + cls.name);
    std::vector<std::string> parts;
    for (const auto& kb : path.keys) {
        const Property* p = cls.findProperty(kb.name);
        if (!p || !qualifierIsTrue(p->qualifiers, "Key"))
            throw CimError(kCimInvalidParameter, "'" + kb.name + "' is not a key of class " + cls.name);
        std::string v;
        if (p->value.type == DataType::Reference) {
            v = refIdentity(kb.ref ? *kb.ref : ObjectPath::parse(kb.value));
        } else {
            try {
                v = canonicalScalar(p->value.type, kb.value);
            } catch (const CimError&) {
                throw CimError(kCimInvalidParameter, "key " + kb.name + " of " + path.toString() + " is not a valid " +
                                                         mof::dataTypeName(p->value.type));
            }
        }
        parts.push_back(lowerName(kb.name) + "=" + v);
    }
    std::sort(parts.begin(), parts.end());
    std::string id;
    for (const auto& s : parts) id += s + '\x1f';
    return id;
}

Instance Repository::buildInstance(const Namespace& n, const Class& cls, const std::vector<RawProperty>& props) const {
    (void)n;
    // As an OpenPegasus repository does: properties filled from the class come
    // first and are marked propagated; the ones given follow in given order.
    Instance inst;
    inst.className = cls.name;
    std::vector<Property> given;
    std::set<std::string> seen;
    for (const auto& rp : props) {
        const Property* decl = cls.findProperty(rp.name);
        if (!decl) throw CimError(kCimNoSuchProperty, "class " + cls.name + " has no property '" + rp.name + "'");
        if (!seen.insert(lowerName(rp.name)).second)
            throw CimError(kCimInvalidParameter, "property '" + rp.name + "' given twice");
        Property p = *decl;
        p.qualifiers.clear();
        p.propagated = false;
        p.value = coerceValue(p.value.type, p.value.isArray, rp.value, "property " + p.name);
        if (p.arraySize && p.value.items.size() > p.arraySize)
            throw CimError(kCimInvalidParameter, "property " + p.name + " holds at most " + std::to_string(p.arraySize) + " elements");
        given.push_back(std::move(p));
    }
    for (const auto& decl : cls.properties) {
        if (seen.count(lowerName(decl.name))) continue;
        Property p = decl;  // the class default
        p.qualifiers.clear();
        p.propagated = true;
        inst.properties.push_back(std::move(p));
    }
    for (auto& p : given) inst.properties.push_back(std::move(p));
    for (const auto& k : cls.keyNames) {
        const Property* p = inst.findProperty(k);
        if (p->value.null) throw CimError(kCimInvalidParameter, "key property '" + k + "' of class " + cls.name + " has no value");
    }
    if (cls.keyNames.empty()) throw CimError(kCimFailed, "class " + cls.name + " has no key properties");
    return inst;
}

const Instance* Repository::findInstance(const Namespace& n, const ObjectPath& path, std::string* identity) const {
    const Class& cls = classOrThrow(n, path.className, kCimInvalidClass);
    std::string id = identityOfPath(n, cls, path);
    if (identity) *identity = id;
    auto b = n.instances.find(lowerName(cls.name));
    if (b == n.instances.end()) return nullptr;
    auto it = b->second.find(id);
    return it == b->second.end() ? nullptr : &it->second;
}

Class Repository::getClass(const std::string& ns, const std::string& className) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    return classOrThrow(n, className, kCimNotFound);
}

std::vector<std::string> Repository::enumerateClassNames(const std::string& ns, const std::string& className,
                                                         bool deep) const {
    std::vector<std::string> r;
    for (const auto& c : enumerateClasses(ns, className, deep)) r.push_back(c.name);
    return r;
}

std::vector<Class> Repository::enumerateClasses(const std::string& ns, const std::string& className, bool deep) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    if (!className.empty()) classOrThrow(n, className, kCimInvalidClass);
    std::vector<Class> r;
    for (const auto& key : n.classOrder) {
        const Class& c = n.classes.at(key);
        bool take;
        if (className.empty()) take = deep || c.superClass.empty();
        else if (deep) take = !nameEq(c.name, className) && isSubclassOf(n, c.name, className);
        else take = nameEq(c.superClass, className);
        if (take) r.push_back(c);
    }
    return r;
}

Instance Repository::getInstance(const std::string& ns, const ObjectPath& path) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    const Instance* i = findInstance(n, path, nullptr);
    if (!i) throw CimError(kCimNotFound, path.toString());
    return *i;
}

std::vector<Instance> Repository::enumerateInstances(const std::string& ns, const std::string& className) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    classOrThrow(n, className, kCimInvalidClass);
    std::vector<Instance> r;
    for (const auto& key : n.classOrder) {
        const Class& c = n.classes.at(key);
        if (!isSubclassOf(n, c.name, className)) continue;
        auto b = n.instances.find(key);
        if (b == n.instances.end()) continue;
        for (const auto& kv : b->second) r.push_back(kv.second);
    }
    return r;
}

std::vector<ObjectPath> Repository::enumerateInstanceNames(const std::string& ns, const std::string& className) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    classOrThrow(n, className, kCimInvalidClass);
    std::vector<ObjectPath> r;
    for (const auto& key : n.classOrder) {
        const Class& c = n.classes.at(key);
        if (!isSubclassOf(n, c.name, className)) continue;
        auto b = n.instances.find(key);
        if (b == n.instances.end()) continue;
        for (const auto& kv : b->second) r.push_back(pathOf(c, kv.second));
    }
    return r;
}

ObjectPath Repository::createInstance(const std::string& ns, const std::string& className,
                                      const std::vector<RawProperty>& props) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    const Class& cls = classOrThrow(n, className, kCimInvalidClass);
    if (cls.isAbstract()) throw CimError(kCimFailed, "class " + cls.name + " is abstract and cannot have instances");
    Instance inst = buildInstance(n, cls, props);
    ObjectPath path = pathOf(cls, inst);
    std::string id = identityOf(cls, inst);
    auto& bucket = n.instances[lowerName(cls.name)];
    if (bucket.count(id)) throw CimError(kCimAlreadyExists, path.toString());
    if (n.instanceTotal >= kMaxInstancesPerNamespace)
        throw CimError(kCimServerLimitsExceeded, "namespace " + n.name + " holds the most instances allowed");
    bucket.emplace(id, std::move(inst));
    ++n.instanceTotal;
    return path;
}

void Repository::deleteInstance(const std::string& ns, const ObjectPath& path) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    std::string id;
    if (!findInstance(n, path, &id)) throw CimError(kCimNotFound, path.toString());
    const Class& cls = classOrThrow(n, path.className, kCimInvalidClass);
    n.instances[lowerName(cls.name)].erase(id);
    --n.instanceTotal;
}

void Repository::modifyInstance(const std::string& ns, const ObjectPath& path, const std::vector<RawProperty>& props,
                                const std::vector<std::string>* propertyList) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    std::string id;
    const Instance* found = findInstance(n, path, &id);
    if (!found) throw CimError(kCimNotFound, path.toString());
    const Class& cls = classOrThrow(n, path.className, kCimInvalidClass);
    Instance updated = *found;
    if (propertyList) {
        for (const auto& name : *propertyList)
            if (!cls.findProperty(name)) throw CimError(kCimNoSuchProperty, name);
    }
    auto listed = [&](const std::string& name) {
        if (!propertyList) return true;
        for (const auto& l : *propertyList)
            if (nameEq(l, name)) return true;
        return false;
    };
    // Every change is checked first, then applied, so a bad value changes nothing.
    for (const auto& rp : props) {
        Property* p = updated.findProperty(rp.name);
        if (!p) throw CimError(kCimNoSuchProperty, rp.name);
        if (!listed(rp.name)) continue;
        Value v = coerceValue(p->value.type, p->value.isArray, rp.value, "property " + p->name);
        if (qualifierIsTrue(cls.findProperty(p->name)->qualifiers, "Key")) {
            if (!(v == p->value)) throw CimError(kCimInvalidParameter, "key property " + p->name + " cannot be changed");
            continue;
        }
        p->value = std::move(v);
    }
    if (propertyList) {
        // Listed properties the client left out become null.
        for (const auto& name : *propertyList) {
            bool given = false;
            for (const auto& rp : props)
                if (nameEq(rp.name, name)) given = true;
            Property* p = updated.findProperty(name);
            if (!given && !qualifierIsTrue(cls.findProperty(name)->qualifiers, "Key"))
                p->value = Value::nullOf(p->value.type, p->value.isArray);
        }
    }
    n.instances[lowerName(cls.name)][id] = std::move(updated);
}

Value Repository::getProperty(const std::string& ns, const ObjectPath& path, const std::string& name) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    const Instance* i = findInstance(n, path, nullptr);
    if (!i) throw CimError(kCimNotFound, path.toString());
    const Property* p = i->findProperty(name);
    if (!p) throw CimError(kCimNoSuchProperty, name);
    return p->value;
}

void Repository::setProperty(const std::string& ns, const ObjectPath& path, const std::string& name,
                             const RawValue& v) {
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    std::string id;
    const Instance* found = findInstance(n, path, &id);
    if (!found) throw CimError(kCimNotFound, path.toString());
    const Class& cls = classOrThrow(n, path.className, kCimInvalidClass);
    const Property* decl = cls.findProperty(name);
    if (!decl) throw CimError(kCimNoSuchProperty, name);
    Value nv = coerceValue(decl->value.type, decl->value.isArray, v, "property " + decl->name);
    Instance& inst = n.instances[lowerName(cls.name)][id];
    Property* p = inst.findProperty(name);
    if (qualifierIsTrue(decl->qualifiers, "Key") && !(nv == p->value))
        throw CimError(kCimInvalidParameter, "key property " + decl->name + " cannot be changed");
    p->value = std::move(nv);
}

size_t Repository::instanceCount(const std::string& ns) const {
    std::shared_lock<std::shared_mutex> lock(mu_);
    return nsOrThrow(ns).instanceTotal;
}

}  // namespace minicimd
