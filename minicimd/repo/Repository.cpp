#include "repo/Repository.h"

#include "mof/MofLexer.h"
#include "mof/MofParser.h"

#include "CimXml/CimXml.h"

#include <Pegasus/Common/CIMFlavor.h>
#include <Pegasus/Common/CIMMethod.h>
#include <Pegasus/Common/CIMParameter.h>

#include <algorithm>
#include <dirent.h>
#include <mutex>
#include <set>
#include <sys/stat.h>

using namespace Pegasus;

namespace minicimd {

using mof::MofError;

namespace {

bool isIntegerType(DataType t)
{
    return t >= DataType::Uint8 && t <= DataType::Sint64;
}
bool isRealType(DataType t)
{
    return t == DataType::Real32 || t == DataType::Real64;
}

std::string normalizeNs(std::string ns)
{
    while (!ns.empty() && ns.front() == '/') ns.erase(0, 1);
    while (!ns.empty() && ns.back() == '/') ns.pop_back();
    return ns;
}

// Identity text of a reference: class and keys, names case-folded.
std::string refIdentity(const CIMObjectPath& p)
{
    Array<CIMKeyBinding> keys = p.getKeyBindings();
    for (Uint32 i = 0; i < keys.size(); ++i)
        keys[i].setName(CIMName(String(lowerName(str(keys[i].getName())).c_str())));
    CIMObjectPath q(String(), CIMNamespaceName(), CIMName(String(lowerName(str(p.getClassName())).c_str())),
                    keys);
    return str(q.toString());
}

CIMFlavor flavorOf(bool overridable, bool toSubclass, bool translatable)
{
    CIMFlavor f;
    f.addFlavor(overridable ? CIMFlavor::OVERRIDABLE : CIMFlavor::DISABLEOVERRIDE);
    f.addFlavor(toSubclass ? CIMFlavor::TOSUBCLASS : CIMFlavor::RESTRICTED);
    if (translatable) f.addFlavor(CIMFlavor::TRANSLATABLE);
    return f;
}

template <class T>
std::vector<CIMQualifier> qualifiersOf(const T& owner)
{
    std::vector<CIMQualifier> r;
    for (Uint32 i = 0; i < owner.getQualifierCount(); ++i) r.push_back(owner.getQualifier(i).clone());
    return r;
}

}  // namespace

// MOF names are identifiers, which CIMName accepts; anything else is the
// loader's error, reported where it was written.
static CIMName nameAt(const std::string& s, const mof::SourcePos& pos)
{
    try {
        return CIMName(String(s.c_str()));
    } catch (const Exception& e) {
        throw MofError(pos, "'" + s + "' is not a valid CIM name");
    }
}

std::unique_ptr<Repository> Repository::create()
{
    return std::unique_ptr<Repository>(new Repository());
}

std::vector<std::string> Repository::keyNamesOf(const CIMConstClass& cls)
{
    std::vector<std::string> r;
    for (Uint32 i = 0; i < cls.getPropertyCount(); ++i) {
        CIMConstProperty p = cls.getProperty(i);
        if (qualifierIsTrue(p, "Key")) r.push_back(str(p.getName()));
    }
    return r;
}

void Repository::addNamespace(const std::string& ns)
{
    std::unique_lock<std::shared_mutex> lock(mu_);
    nsForLoad(ns);
}

Repository::Namespace& Repository::nsForLoad(const std::string& nsIn)
{
    std::string ns = normalizeNs(nsIn);
    if (ns.empty()) throw std::runtime_error("empty namespace name");
    Namespace& n = namespaces_[lowerName(ns)];
    if (n.name.empty()) n.name = ns;
    return n;
}

bool Repository::hasNamespace(const std::string& ns) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    return namespaces_.count(lowerName(normalizeNs(ns))) != 0;
}

std::vector<std::string> Repository::namespaces() const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    std::vector<std::string> r;
    for (const auto& kv : namespaces_) r.push_back(kv.second.name);
    return r;
}

void Repository::loadMof(const std::string& ns, const std::string& path)
{
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

void Repository::loadCompilation(const std::string& ns, const mof::Compilation& c)
{
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
                Namespace& n = nsForLoad(d.nameSpace.empty() ? ns : d.nameSpace);
                loadClass(n, d);
                ClassEntry& e = n.classes.at(lowerName(d.name));
                e.forms.reset();
                auto held = n.instances.find(lowerName(d.name));
                if (held != n.instances.end() && !held->second.empty()) e.forms.emplace(e.cls);
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

// Literal kinds must suit the declared type; canonicalScalar then checks ranges.
static void checkLiteralKinds(const mof::Value& v, DataType t, const std::string& what)
{
    for (const auto& l : v.items) {
        bool ok = true;
        switch (l.kind) {
            case mof::LiteralKind::Null:
                break;
            case mof::LiteralKind::Boolean:
                ok = t == DataType::Boolean;
                break;
            case mof::LiteralKind::Integer:
                ok = isIntegerType(t) || isRealType(t);
                break;
            case mof::LiteralKind::Real:
                ok = isRealType(t);
                break;
            case mof::LiteralKind::String:
                ok = t == DataType::String || t == DataType::Datetime || t == DataType::Reference;
                break;
            case mof::LiteralKind::Char16:
                ok = t == DataType::Char16;
                break;
            case mof::LiteralKind::AliasRef:
                ok = t == DataType::Reference;
                break;
        }
        if (!ok) throw MofError(l.pos, "value does not suit " + what + " of type " + mof::dataTypeName(t));
    }
}

// A MOF value of the declared type; throws CimError(TYPE_MISMATCH) or MofError.
CIMValue Repository::valueFromMof(const Namespace& n, const mof::Value& v, DataType t, bool isArray,
                                  const std::string& what) const
{
    checkLiteralKinds(v, t, what);
    CIMType type = cimTypeOf(t);
    if (v.isNullScalar()) return CIMValue(type, isArray);
    if (v.isArray != isArray)
        throw CimError(kCimTypeMismatch, what + (isArray ? " is an array" : " is not an array"));
    std::vector<std::string> texts;
    Array<CIMObjectPath> refs;
    for (const auto& l : v.items) {
        switch (l.kind) {
            case mof::LiteralKind::Null:
                throw MofError(l.pos, "null cannot be an array element");
            case mof::LiteralKind::Boolean:
                texts.push_back(l.boolValue ? "TRUE" : "FALSE");
                break;
            case mof::LiteralKind::Integer:
                texts.push_back((l.negative ? "-" : "") + std::to_string(l.magnitude));
                break;
            case mof::LiteralKind::Real:
                texts.push_back(formatReal(DataType::Real64, l.realValue));
                break;
            case mof::LiteralKind::String:
                texts.push_back(l.text);
                break;
            case mof::LiteralKind::Char16: {
                std::string s;
                mof::appendUtf8(s, l.char16);
                texts.push_back(s);
                break;
            }
            case mof::LiteralKind::AliasRef: {
                auto it = n.aliases.find(lowerName(l.text));
                if (it == n.aliases.end())
                    throw MofError(l.pos, "alias '$" + l.text + "' is not defined before its use");
                refs.append(it->second);
                break;
            }
        }
    }
    if (refs.size() != 0) {
        if (refs.size() != v.items.size()) throw MofError(v.pos, "an array mixes aliases and other values");
        return isArray ? CIMValue(refs) : CIMValue(refs[0]);
    }
    if (t != DataType::Reference) {
        for (auto& s : texts) {
            try {
                s = canonicalScalar(t, s);
            } catch (const CimError& e) {
                throw CimError(kCimTypeMismatch, what + ": " + e.what());
            }
        }
    }
    // "{}" gives an empty array, which is not the same as a null one.
    return valueFromTexts(type, isArray, texts, what);
}

void Repository::loadQualifier(Namespace& n, const mof::QualifierDecl& d)
{
    QualifierType q;
    q.name = d.name;
    q.type = cimTypeOf(d.type);
    q.isArray = d.isArray;
    q.arraySize = d.arraySize;
    q.scopes = d.scopes;
    if (d.flavors.overridable) q.overridable = *d.flavors.overridable;
    if (d.flavors.toSubclass) q.toSubclass = *d.flavors.toSubclass;
    q.translatable = d.flavors.translatable;
    q.defaultValue = CIMValue(q.type, d.isArray);
    if (d.defaultValue) {
        try {
            q.defaultValue =
                valueFromMof(n, *d.defaultValue, d.type, d.isArray, "qualifier '" + d.name + "'");
        } catch (const CimError& e) {
            throw MofError(d.defaultValue->pos, e.what());
        }
    }
    std::string key = lowerName(d.name);
    auto it = n.qualifierTypes.find(key);
    if (it != n.qualifierTypes.end()) {
        const QualifierType& o = it->second;
        // Loading the same declarations twice (several schemas) is harmless.
        if (o.type != q.type || o.isArray != q.isArray || !sameValue(o.defaultValue, q.defaultValue))
            throw MofError(d.pos, "qualifier '" + d.name + "' is already declared differently");
        return;
    }
    n.qualifierTypes.emplace(key, std::move(q));
}

std::vector<CIMQualifier> Repository::resolveQualifiers(const Namespace& n,
                                                        const std::vector<mof::QualifierUse>& uses,
                                                        const std::vector<CIMQualifier>* inherited,
                                                        uint32_t scope, const std::string& where) const
{
    // As OpenPegasus orders them: inherited qualifiers that are not overridden
    // (marked propagated), then the local ones in source order.
    std::vector<CIMQualifier> out;
    std::vector<CIMQualifier> locals;
    std::vector<bool> overridden(inherited ? inherited->size() : 0, false);
    for (const auto& u : uses) {
        auto it = n.qualifierTypes.find(lowerName(u.name));
        if (it == n.qualifierTypes.end())
            throw MofError(u.pos, "qualifier '" + u.name + "' on " + where + " is not declared");
        const QualifierType& t = it->second;
        if (scope && !(t.scopes & scope))
            throw MofError(u.pos, "qualifier '" + t.name + "' is not allowed on " + where);
        bool overridable = t.overridable, toSubclass = t.toSubclass, translatable = t.translatable;
        if (u.flavors.overridable) overridable = *u.flavors.overridable;
        if (u.flavors.toSubclass) toSubclass = *u.flavors.toSubclass;
        if (u.flavors.translatable) translatable = true;
        CIMValue value;
        if (u.value) {
            mof::Value val = *u.value;
            // A scalar given to an array qualifier is the one-element array ("Values("x")").
            if (t.isArray && !val.isArray && !val.isNullScalar()) val.isArray = true;
            try {
                value = valueFromMof(
                    n, val,
                    [&] {
                        for (int k = 0; k <= static_cast<int>(DataType::Instance); ++k)
                            if (cimTypeOf(static_cast<DataType>(k)) == t.type)
                                return static_cast<DataType>(k);
                        return DataType::String;
                    }(),
                    t.isArray, "qualifier '" + t.name + "'");
            } catch (const CimError& e) {
                throw MofError(u.pos, e.what());
            }
        } else if (t.type == CIMTYPE_BOOLEAN && !t.isArray) {
            value = CIMValue(Boolean(true));
        } else {
            value = t.defaultValue;
        }
        for (size_t i = 0; inherited && i < inherited->size(); ++i) {
            const CIMQualifier& prev = (*inherited)[i];
            if (!prev.getFlavor().hasFlavor(CIMFlavor::TOSUBCLASS) || !nameEq(str(prev.getName()), u.name))
                continue;
            bool prevOverridable = prev.getFlavor().hasFlavor(CIMFlavor::OVERRIDABLE);
            if (!prevOverridable && !sameValue(prev.getValue(), value))
                throw MofError(u.pos, "qualifier '" + t.name + "' on " + where +
                                          " cannot be overridden (it is DisableOverride)");
            // An overriding use keeps inherited flavors it does not restate.
            if (!u.flavors.overridable) overridable = prevOverridable;
            overridden[i] = true;
        }
        // Spelled as used, as OpenPegasus reports it.
        locals.push_back(
            CIMQualifier(nameAt(u.name, u.pos), value, flavorOf(overridable, toSubclass, translatable)));
    }
    for (size_t i = 0; inherited && i < inherited->size(); ++i) {
        const CIMQualifier& prev = (*inherited)[i];
        if (!prev.getFlavor().hasFlavor(CIMFlavor::TOSUBCLASS) || overridden[i]) continue;
        CIMQualifier c = prev.clone();
        c.setPropagated(true);
        out.push_back(c);
    }
    for (auto& q : locals) out.push_back(q);
    return out;
}

template <class T>
static void addQualifiers(T& owner, const std::vector<CIMQualifier>& qs, const mof::SourcePos& pos)
{
    for (const auto& q : qs) {
        try {
            owner.addQualifier(q);
        } catch (const Exception&) {
            throw MofError(pos, "qualifier '" + str(q.getName()) + "' is given twice");
        }
    }
}

void Repository::loadClass(Namespace& n, const mof::ClassDecl& d)
{
    std::string key = lowerName(d.name);
    if (n.classes.count(key))
        throw MofError(d.pos, "class '" + d.name + "' is already defined in namespace '" + n.name + "'");
    ClassEntry* super = nullptr;
    if (!d.superClass.empty()) {
        auto it = n.classes.find(lowerName(d.superClass));
        if (it == n.classes.end())
            throw MofError(d.pos,
                           "superclass '" + d.superClass + "' of class '" + d.name + "' is not defined");
        super = &it->second;
    }
    ClassEntry e;
    e.name = d.name;
    e.superClass = super ? super->name : "";
    e.depth = super ? super->depth + 1 : 0;
    if (e.depth > kMaxInheritanceDepth)
        throw MofError(d.pos, "class '" + d.name + "' would be " + std::to_string(e.depth) +
                                  " levels below its root class; at most " +
                                  std::to_string(kMaxInheritanceDepth) + " are supported");
    CIMName className = nameAt(d.name, d.pos);
    CIMClass c(className, super ? super->cls.getClassName() : CIMName());
    bool isAssoc = false;
    bool isIndication = false;
    for (const auto& u : d.qualifiers) {
        if (nameEq(u.name, "Association")) isAssoc = true;
        if (nameEq(u.name, "Indication")) isIndication = true;
    }
    if (super && qualifierIsTrue(super->cls, "Association")) isAssoc = true;
    if (super && qualifierIsTrue(super->cls, "Indication")) isIndication = true;
    uint32_t classScope = isAssoc        ? mof::ScopeAssociation
                          : isIndication ? mof::ScopeIndication
                                         : mof::ScopeClass;
    std::vector<CIMQualifier> superQuals;
    if (super) superQuals = qualifiersOf(super->cls);
    addQualifiers(c,
                  resolveQualifiers(n, d.qualifiers, super ? &superQuals : nullptr, classScope,
                                    "class '" + d.name + "'"),
                  d.pos);
    // A feature inherited whole keeps all its qualifiers, Restricted ones
    // included, as OpenPegasus reports them; Restricted takes effect where a
    // subclass overrides the feature or for class qualifiers.
    std::vector<CIMProperty> props;
    std::vector<CIMMethod> methods;
    if (super) {
        // What the superclass itself inherited is shared as it is (stored
        // classes are never changed; getClass hands out copies): only its own
        // features are copied, so a long chain costs one copy a class.
        CIMClass& sc = super->cls;
        for (Uint32 i = 0; i < sc.getPropertyCount(); ++i) {
            CIMProperty p = sc.getProperty(i);
            if (!p.getPropagated()) {
                p = p.clone();
                p.setPropagated(true);
            }
            props.push_back(p);
        }
        for (Uint32 i = 0; i < sc.getMethodCount(); ++i) {
            CIMMethod m = sc.getMethod(i);
            if (!m.getPropagated()) {
                m = m.clone();
                m.setPropagated(true);
            }
            methods.push_back(m);
        }
    }
    // Like OpenPegasus: inherited features keep their order, an override
    // moves to where the subclass declares it and keeps the class origin of
    // the first declaration.
    std::vector<CIMProperty> localProps;
    std::vector<CIMMethod> localMethods;
    for (const auto& pd : d.properties) {
        std::string where = "property '" + d.name + "." + pd.name + "'";
        int existing = -1;
        // The superclass's index says at once whether there is anything to override.
        if (super && super->cls.findProperty(nameAt(pd.name, pd.pos)) != PEG_NOT_FOUND)
            for (size_t i = 0; i < props.size(); ++i)
                if (nameEq(str(props[i].getName()), pd.name)) existing = static_cast<int>(i);
        CIMType type = cimTypeOf(pd.type);
        if (existing >= 0 && (props[existing].getType() != type || props[existing].isArray() != pd.isArray))
            throw MofError(pd.pos, where + " overrides an inherited property of another type");
        if (pd.type == DataType::Reference) {
            if (!n.classes.count(lowerName(pd.refClass)) && !nameEq(pd.refClass, d.name))
                throw MofError(pd.pos,
                               "class '" + pd.refClass + "' of reference " + where + " is not defined");
        }
        std::vector<CIMQualifier> inheritedQuals;
        if (existing >= 0) inheritedQuals = qualifiersOf(props[existing]);
        std::vector<CIMQualifier> quals = resolveQualifiers(
            n, pd.qualifiers, existing >= 0 ? &inheritedQuals : nullptr,
            pd.type == DataType::Reference ? mof::ScopeReference : mof::ScopeProperty, where);
        CIMValue value(type, pd.isArray, pd.arraySize);
        if (pd.defaultValue) {
            try {
                value = valueFromMof(n, *pd.defaultValue, pd.type, pd.isArray, where);
            } catch (const CimError& e) {
                throw MofError(pd.defaultValue->pos, e.what());
            }
            if (pd.arraySize && !value.isNull() && value.getArraySize() > pd.arraySize)
                throw MofError(pd.defaultValue->pos,
                               where + " holds at most " + std::to_string(pd.arraySize) + " elements");
        } else if (existing >= 0) {
            value = props[existing].getValue();  // an override without a value keeps the inherited default
        }
        CIMName origin = existing >= 0 ? props[existing].getClassOrigin() : className;
        CIMProperty p(nameAt(pd.name, pd.pos), value, pd.arraySize,
                      pd.type == DataType::Reference ? nameAt(pd.refClass, pd.pos) : CIMName(), origin,
                      false);
        addQualifiers(p, quals, pd.pos);
        if (existing >= 0) props.erase(props.begin() + existing);
        for (const auto& lp : localProps)
            if (nameEq(str(lp.getName()), pd.name)) throw MofError(pd.pos, where + " is declared twice");
        localProps.push_back(p);
    }
    for (auto& p : localProps) props.push_back(p);
    for (const auto& md : d.methods) {
        std::string where = "method '" + d.name + "." + md.name + "'";
        int existing = -1;
        if (super && super->cls.findMethod(nameAt(md.name, md.pos)) != PEG_NOT_FOUND)
            for (size_t i = 0; i < methods.size(); ++i)
                if (nameEq(str(methods[i].getName()), md.name)) existing = static_cast<int>(i);
        std::vector<CIMQualifier> inheritedQuals;
        if (existing >= 0) inheritedQuals = qualifiersOf(methods[existing]);
        CIMName origin = existing >= 0 ? methods[existing].getClassOrigin() : className;
        CIMMethod m(nameAt(md.name, md.pos), cimTypeOf(md.returnType), origin, false);
        addQualifiers(m,
                      resolveQualifiers(n, md.qualifiers, existing >= 0 ? &inheritedQuals : nullptr,
                                        mof::ScopeMethod, where),
                      md.pos);
        for (const auto& pd : md.parameters) {
            if (pd.type == DataType::Reference && !n.classes.count(lowerName(pd.refClass)) &&
                !nameEq(pd.refClass, d.name))
                throw MofError(pd.pos,
                               "class '" + pd.refClass + "' of parameter '" + pd.name + "' is not defined");
            CIMParameter p(nameAt(pd.name, pd.pos), cimTypeOf(pd.type), pd.isArray, pd.arraySize,
                           pd.type == DataType::Reference ? nameAt(pd.refClass, pd.pos) : CIMName());
            addQualifiers(p,
                          resolveQualifiers(n, pd.qualifiers, nullptr, mof::ScopeParameter,
                                            "parameter '" + pd.name + "' of " + where),
                          pd.pos);
            try {
                m.addParameter(p);
            } catch (const Exception&) {
                throw MofError(pd.pos, "parameter '" + pd.name + "' of " + where + " is declared twice");
            }
        }
        if (existing >= 0) methods.erase(methods.begin() + existing);
        for (const auto& lm : localMethods)
            if (nameEq(str(lm.getName()), md.name)) throw MofError(md.pos, where + " is declared twice");
        localMethods.push_back(m);
    }
    for (auto& m : localMethods) methods.push_back(m);
    for (auto& p : props) c.addProperty(p);
    for (auto& m : methods) c.addMethod(m);
    for (Uint32 i = 0; i < c.getPropertyCount(); ++i) {
        CIMConstProperty p = c.getProperty(i);
        if (qualifierIsTrue(p, "Key")) {
            if (p.isArray())
                throw MofError(d.pos,
                               "key property '" + str(p.getName()) + "' of '" + d.name + "' is an array");
            e.keyNames.push_back(str(p.getName()));
        }
    }
    e.abstract = qualifierIsTrue(c, "Abstract");
    e.cls = c;
    n.classOrder.push_back(key);
    n.classes.emplace(key, std::move(e));
}

void Repository::loadInstance(Namespace& n, const mof::InstanceDecl& d)
{
    auto it = n.classes.find(lowerName(d.className));
    if (it == n.classes.end())
        throw MofError(d.pos, "class '" + d.className + "' of the instance is not defined");
    const ClassEntry& ce = it->second;
    std::vector<GivenProperty> props;
    for (const auto& pi : d.properties) {
        Uint32 idx = ce.cls.findProperty(CIMName(String(pi.name.c_str())));
        if (idx == PEG_NOT_FOUND)
            throw MofError(pi.pos, "class '" + ce.name + "' has no property '" + pi.name + "'");
        CIMConstProperty decl = ce.cls.getProperty(idx);
        DataType dt = DataType::String;
        for (int k = 0; k <= static_cast<int>(DataType::Instance); ++k)
            if (cimTypeOf(static_cast<DataType>(k)) == decl.getType()) dt = static_cast<DataType>(k);
        GivenProperty g;
        g.name = pi.name;
        g.typed = true;
        try {
            g.value = valueFromMof(n, pi.value, dt, decl.isArray(), "property " + str(decl.getName()));
        } catch (const CimError& e) {
            throw MofError(pi.pos, e.what());
        }
        props.push_back(std::move(g));
    }
    try {
        if (ce.abstract) throw CimError(kCimFailed, "class '" + ce.name + "' is abstract");
        CIMInstance inst = buildInstance(ce, props);
        std::string id = identityOf(ce, inst);
        auto& bucket = n.instances[lowerName(ce.name)];
        CIMObjectPath path = pathOf(ce, inst);
        if (bucket.count(id))
            throw CimError(kCimAlreadyExists, "instance " + str(path.toString()) + " already exists");
        inst.setPath(path);
        if (!ce.forms) ce.forms.emplace(ce.cls);
        StoredInstance stored = InstanceForms::storedOf(ce.cls, inst);
        storedBytes_ += stored.bytes();
        bucket.emplace(id, std::move(stored));
        ++n.instanceTotal;
        if (!d.alias.empty()) n.aliases[lowerName(d.alias)] = path;
    } catch (const CimError& e) {
        throw MofError(d.pos, e.what());
    }
}

// ---------------------------------------------------------------------------

const Repository::Namespace& Repository::nsOrThrow(const std::string& ns) const
{
    auto it = namespaces_.find(lowerName(normalizeNs(ns)));
    if (it == namespaces_.end()) throw CimError(kCimInvalidNamespace, ns);
    return it->second;
}

Repository::Namespace& Repository::nsOrThrow(const std::string& ns)
{
    auto it = namespaces_.find(lowerName(normalizeNs(ns)));
    if (it == namespaces_.end()) throw CimError(kCimInvalidNamespace, ns);
    return it->second;
}

const Repository::ClassEntry& Repository::classOrThrow(const Namespace& n, const std::string& name,
                                                       int status) const
{
    auto it = n.classes.find(lowerName(name));
    if (it == n.classes.end()) throw CimError(status, name);
    return it->second;
}

bool Repository::isSubclassOf(const Namespace& n, const std::string& cls, const std::string& base) const
{
    std::string want = lowerName(base);
    auto it = n.classes.find(lowerName(cls));
    if (it == n.classes.end()) return lowerName(cls) == want;
    auto b = n.classes.find(want);
    if (b == n.classes.end()) return false;
    // Depths are known: walk up only as far as the base's level.
    const ClassEntry* cur = &it->second;
    while (cur->depth > b->second.depth) {
        auto up = n.classes.find(lowerName(cur->superClass));
        if (up == n.classes.end()) return false;
        cur = &up->second;
    }
    return cur == &b->second;
}

CIMObjectPath Repository::pathOf(const ClassEntry& c, const CIMConstInstance& inst) const
{
    Array<CIMKeyBinding> keys;
    for (const auto& k : c.keyNames) {
        CIMConstProperty p = inst.getProperty(inst.findProperty(CIMName(String(k.c_str()))));
        keys.append(CIMKeyBinding(p.getName(), p.getValue()));
    }
    return CIMObjectPath(String(), CIMNamespaceName(), c.cls.getClassName(), keys);
}

std::string Repository::identityOf(const ClassEntry& c, const CIMConstInstance& inst) const
{
    std::vector<std::string> parts;
    for (const auto& k : c.keyNames) {
        const CIMValue& v = inst.getProperty(inst.findProperty(CIMName(String(k.c_str())))).getValue();
        std::string t = v.getType() == CIMTYPE_REFERENCE ? [&] {
            CIMObjectPath p;
            v.get(p);
            return refIdentity(p);
        }() : elementText(v, 0);
        parts.push_back(lowerName(k) + "=" + t);
    }
    std::sort(parts.begin(), parts.end());
    std::string id;
    for (const auto& s : parts) id += s + '\x1f';
    return id;
}

std::string Repository::identityOfPath(const ClassEntry& c, const CIMObjectPath& path) const
{
    const Array<CIMKeyBinding>& keys = path.getKeyBindings();
    if (keys.size() != c.keyNames.size())
        throw CimError(kCimInvalidParameter, "object path " + str(path.toString()) + " does not give the " +
                                                 std::to_string(c.keyNames.size()) + " key(s) of class " +
                                                 c.name);
    std::vector<std::string> parts;
    for (Uint32 i = 0; i < keys.size(); ++i) {
        std::string kname = str(keys[i].getName());
        Uint32 idx = c.cls.findProperty(keys[i].getName());
        if (idx == PEG_NOT_FOUND || !qualifierIsTrue(c.cls.getProperty(idx), "Key"))
            throw CimError(kCimInvalidParameter, "'" + kname + "' is not a key of class " + c.name);
        CIMConstProperty p = c.cls.getProperty(idx);
        std::string value = str(keys[i].getValue());
        std::string v;
        if (p.getType() == CIMTYPE_REFERENCE) {
            try {
                v = refIdentity(CIMObjectPath(keys[i].getValue()));
            } catch (const Exception&) {
                throw CimError(kCimInvalidParameter,
                               "key " + kname + " of " + str(path.toString()) + " is not an object path");
            }
        } else {
            DataType dt = DataType::String;
            for (int k = 0; k <= static_cast<int>(DataType::Instance); ++k)
                if (cimTypeOf(static_cast<DataType>(k)) == p.getType()) dt = static_cast<DataType>(k);
            try {
                v = canonicalScalar(dt, value);
            } catch (const CimError&) {
                throw CimError(kCimInvalidParameter, "key " + kname + " of " + str(path.toString()) +
                                                         " is not a valid " + mof::dataTypeName(dt));
            }
        }
        parts.push_back(lowerName(kname) + "=" + v);
    }
    std::sort(parts.begin(), parts.end());
    std::string id;
    for (const auto& s : parts) id += s + '\x1f';
    return id;
}

CIMInstance Repository::buildInstance(const ClassEntry& c, const std::vector<GivenProperty>& props) const
{
    // As an OpenPegasus repository does: properties filled from the class come
    // first and are marked propagated; the ones given follow in given order.
    CIMInstance inst(c.cls.getClassName());
    std::vector<CIMProperty> given;
    std::set<std::string> seen;
    for (const auto& gp : props) {
        Uint32 idx = PEG_NOT_FOUND;
        try {
            idx = c.cls.findProperty(CIMName(String(gp.name.c_str())));
        } catch (const Exception&) {
        }
        if (idx == PEG_NOT_FOUND)
            throw CimError(kCimNoSuchProperty, "class " + c.name + " has no property '" + gp.name + "'");
        if (!seen.insert(lowerName(gp.name)).second)
            throw CimError(kCimInvalidParameter, "property '" + gp.name + "' given twice");
        CIMConstProperty decl = c.cls.getProperty(idx);
        std::string pname = str(decl.getName());
        CIMValue v = coerceValue(decl.getType(), decl.isArray(), gp.value, gp.typed, "property " + pname);
        if (decl.getArraySize() && !v.isNull() && v.getArraySize() > decl.getArraySize())
            throw CimError(kCimInvalidParameter, "property " + pname + " holds at most " +
                                                     std::to_string(decl.getArraySize()) + " elements");
        given.push_back(instanceProperty(decl, v, false));
    }
    for (Uint32 i = 0; i < c.cls.getPropertyCount(); ++i) {
        CIMConstProperty decl = c.cls.getProperty(i);
        if (seen.count(lowerName(str(decl.getName())))) continue;
        inst.addProperty(instanceProperty(decl, decl.getValue(), true));  // the class default
    }
    for (auto& p : given) inst.addProperty(p);
    for (const auto& k : c.keyNames) {
        if (inst.getProperty(inst.findProperty(CIMName(String(k.c_str())))).getValue().isNull())
            throw CimError(kCimInvalidParameter,
                           "key property '" + k + "' of class " + c.name + " has no value");
    }
    if (c.keyNames.empty()) throw CimError(kCimFailed, "class " + c.name + " has no key properties");
    return inst;
}

const StoredInstance* Repository::findInstance(const Namespace& n, const CIMObjectPath& path,
                                               std::string* identity, const ClassEntry** cls) const
{
    const ClassEntry& c = classOrThrow(n, str(path.getClassName()), kCimInvalidClass);
    std::string id = identityOfPath(c, path);
    if (identity) *identity = id;
    if (cls) *cls = &c;
    auto b = n.instances.find(lowerName(c.name));
    if (b == n.instances.end()) return nullptr;
    auto it = b->second.find(id);
    return it == b->second.end() ? nullptr : &it->second;
}

CIMClass Repository::getClass(const std::string& ns, const std::string& className) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    return classOrThrow(n, className, kCimNotFound).cls.clone();
}

std::vector<std::string> Repository::enumerateClassNames(const std::string& ns, const std::string& className,
                                                         bool deep) const
{
    std::vector<std::string> r;
    for (const auto& c : enumerateClasses(ns, className, deep)) r.push_back(str(c.getClassName()));
    return r;
}

std::vector<CIMClass> Repository::enumerateClasses(const std::string& ns, const std::string& className,
                                                   bool deep) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    if (!className.empty()) classOrThrow(n, className, kCimInvalidClass);
    std::vector<CIMClass> r;
    for (const auto& key : n.classOrder) {
        const ClassEntry& c = n.classes.at(key);
        bool take;
        if (className.empty())
            take = deep || c.superClass.empty();
        else if (deep)
            take = !nameEq(c.name, className) && isSubclassOf(n, c.name, className);
        else
            take = nameEq(c.superClass, className);
        if (take) r.push_back(c.cls.clone());
    }
    return r;
}

CIMInstance Repository::getInstance(const std::string& ns, const CIMObjectPath& path) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    const ClassEntry* c = nullptr;
    const StoredInstance* i = findInstance(n, path, nullptr, &c);
    if (!i) throw CimError(kCimNotFound, str(path.toString()));
    return c->forms->instanceOf(c->cls, *i);
}

void Repository::writeInstance(const std::string& ns, const CIMObjectPath& path, const InstanceView& view,
                               std::string& out) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    const ClassEntry* c = nullptr;
    const StoredInstance* i = findInstance(n, path, nullptr, &c);
    if (!i) throw CimError(kCimNotFound, str(path.toString()));
    c->forms->write(*i, view, out);
}

std::vector<std::pair<const Repository::ClassEntry*, const std::map<std::string, StoredInstance>*>>
Repository::bucketsOf(const Namespace& n, const std::string& className) const
{
    classOrThrow(n, className, kCimInvalidClass);
    std::vector<std::pair<const ClassEntry*, const std::map<std::string, StoredInstance>*>> r;
    for (const auto& key : n.classOrder) {
        const ClassEntry& c = n.classes.at(key);
        if (!isSubclassOf(n, c.name, className)) continue;
        auto b = n.instances.find(key);
        if (b != n.instances.end()) r.emplace_back(&c, &b->second);
    }
    return r;
}

std::vector<CIMInstance> Repository::enumerateInstances(const std::string& ns,
                                                        const std::string& className) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    std::vector<CIMInstance> r;
    for (const auto& [c, bucket] : bucketsOf(nsOrThrow(ns), className)) {
        for (const auto& kv : *bucket) r.push_back(c->forms->instanceOf(c->cls, kv.second));
    }
    return r;
}

std::vector<CIMObjectPath> Repository::enumerateInstanceNames(const std::string& ns,
                                                              const std::string& className) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    auto buckets = bucketsOf(nsOrThrow(ns), className);
    std::size_t total = 0;
    for (const auto& b : buckets) total += b.second->size();
    std::vector<CIMObjectPath> r;
    r.reserve(total);
    for (const auto& b : buckets) {
        for (const auto& kv : *b.second) r.push_back(kv.second.path);
    }
    return r;
}

void Repository::writeInstanceNames(const std::string& ns, const std::string& className,
                                    std::string& out) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    auto buckets = bucketsOf(nsOrThrow(ns), className);
    std::size_t bytes = 0;
    for (const auto& b : buckets)
        for (const auto& kv : *b.second) bytes += kv.second.nameElement.size();
    constexpr std::size_t kAnswerEndRoom = 256;  // the answer's closing lines, written after these
    out.reserve(out.size() + bytes + kAnswerEndRoom);
    for (const auto& b : buckets) {
        for (const auto& kv : *b.second) {
            if (!kv.second.nameElement.empty()) {
                out += kv.second.nameElement;
                continue;
            }
            std::string name;
            orv::cimxml::writeInstanceName(name, kv.second.path);  // throws what makes the name unwritable
            out += orv::cimxml::laidOut(name, orv::cimxml::Layout::OneElementPerLine);
        }
    }
}

CIMObjectPath Repository::createInstance(const std::string& ns, const std::string& className,
                                         const std::vector<GivenProperty>& props)
{
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    const ClassEntry& c = classOrThrow(n, className, kCimInvalidClass);
    if (c.abstract) throw CimError(kCimFailed, "class " + c.name + " is abstract and cannot have instances");
    CIMInstance inst = buildInstance(c, props);
    CIMObjectPath path = pathOf(c, inst);
    std::string id = identityOf(c, inst);
    auto& bucket = n.instances[lowerName(c.name)];
    if (bucket.count(id)) throw CimError(kCimAlreadyExists, str(path.toString()));
    if (n.instanceTotal >= kMaxInstancesPerNamespace)
        throw CimError(kCimServerLimitsExceeded, "namespace " + n.name + " holds the most instances allowed");
    inst.setPath(path);
    StoredInstance stored = InstanceForms::storedOf(c.cls, inst);
    checkBudget(stored.bytes());
    if (!c.forms) c.forms.emplace(c.cls);
    storedBytes_ += stored.bytes();
    bucket.emplace(id, std::move(stored));
    ++n.instanceTotal;
    return path;
}

void Repository::checkBudget(size_t more) const
{
    if (more > kMaxStoredBytes - std::min(storedBytes_, kMaxStoredBytes))
        throw CimError(kCimServerLimitsExceeded, "the repository's instances would take more than " +
                                                     std::to_string(kMaxStoredBytes / (1024 * 1024)) +
                                                     " MiB; nothing was stored");
}

void Repository::deleteInstance(const std::string& ns, const CIMObjectPath& path)
{
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    std::string id;
    const StoredInstance* gone = findInstance(n, path, &id);
    if (!gone) throw CimError(kCimNotFound, str(path.toString()));
    const ClassEntry& c = classOrThrow(n, str(path.getClassName()), kCimInvalidClass);
    storedBytes_ -= std::min(storedBytes_, gone->bytes());
    n.instances[lowerName(c.name)].erase(id);
    --n.instanceTotal;
}

void Repository::modifyInstance(const std::string& ns, const CIMObjectPath& path,
                                const std::vector<GivenProperty>& props,
                                const std::vector<std::string>* propertyList)
{
    std::unique_lock<std::shared_mutex> lock(mu_);
    Namespace& n = nsOrThrow(ns);
    std::string id;
    const ClassEntry* cp = nullptr;
    const StoredInstance* found = findInstance(n, path, &id, &cp);
    if (!found) throw CimError(kCimNotFound, str(path.toString()));
    const ClassEntry& c = *cp;
    StoredInstance updated = *found;
    auto propIndex = [&](const std::string& name) {
        try {
            return c.cls.findProperty(CIMName(String(name.c_str())));
        } catch (const Exception&) {
            return PEG_NOT_FOUND;
        }
    };
    auto current = [&](Uint32 idx) {
        const StoredProperty* p = updated.find(idx);
        return p ? p->value.value() : c.cls.getProperty(idx).getValue();
    };
    if (propertyList) {
        for (const auto& name : *propertyList)
            if (propIndex(name) == PEG_NOT_FOUND) throw CimError(kCimNoSuchProperty, name);
    }
    auto listed = [&](const std::string& name) {
        if (!propertyList) return true;
        for (const auto& l : *propertyList)
            if (nameEq(l, name)) return true;
        return false;
    };
    auto isKey = [&](const std::string& name) {
        for (const auto& k : c.keyNames)
            if (nameEq(k, name)) return true;
        return false;
    };
    // Every change is checked first, then applied, so a bad value changes nothing.
    for (const auto& gp : props) {
        Uint32 idx = propIndex(gp.name);
        if (idx == PEG_NOT_FOUND) throw CimError(kCimNoSuchProperty, gp.name);
        if (!listed(gp.name)) continue;
        CIMConstProperty decl = c.cls.getProperty(idx);
        std::string pname = str(decl.getName());
        CIMValue v = coerceValue(decl.getType(), decl.isArray(), gp.value, gp.typed, "property " + pname);
        if (isKey(pname)) {
            if (!sameValue(v, current(idx)))
                throw CimError(kCimInvalidParameter, "key property " + pname + " cannot be changed");
            continue;
        }
        updated.set(idx, v);
    }
    if (propertyList) {
        // Listed properties the client left out become null.
        for (const auto& name : *propertyList) {
            bool given = false;
            for (const auto& gp : props)
                if (nameEq(gp.name, name)) given = true;
            Uint32 idx = propIndex(name);
            CIMConstProperty decl = c.cls.getProperty(idx);
            if (!given && !isKey(str(decl.getName())))
                updated.set(idx, CIMValue(decl.getType(), decl.isArray()));
        }
    }
    size_t before = found->bytes(), after = updated.bytes();
    if (after > before) checkBudget(after - before);
    storedBytes_ = storedBytes_ - std::min(storedBytes_, before) + after;
    n.instances[lowerName(c.name)][id] = std::move(updated);
}

CIMValue Repository::getProperty(const std::string& ns, const CIMObjectPath& path,
                                 const std::string& name) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    const Namespace& n = nsOrThrow(ns);
    const ClassEntry* c = nullptr;
    const StoredInstance* i = findInstance(n, path, nullptr, &c);
    if (!i) throw CimError(kCimNotFound, str(path.toString()));
    Uint32 idx = PEG_NOT_FOUND;
    try {
        idx = c->cls.findProperty(CIMName(String(name.c_str())));
    } catch (const Exception&) {
    }
    if (idx == PEG_NOT_FOUND) throw CimError(kCimNoSuchProperty, name);
    const StoredProperty* p = i->find(idx);
    return p ? p->value.value() : c->cls.getProperty(idx).getValue();
}
void Repository::setProperty(const std::string& ns, const CIMObjectPath& path, const std::string& name,
                             const CIMValue& v, bool typed)
{
    std::vector<GivenProperty> one{GivenProperty{name, v, typed}};
    modifyInstance(ns, path, one, nullptr);
}

size_t Repository::instanceCount(const std::string& ns) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    return nsOrThrow(ns).instanceTotal;
}

bool Repository::classIsA(const std::string& ns, const std::string& className, const std::string& base) const
{
    std::shared_lock<std::shared_mutex> lock(mu_);
    auto it = namespaces_.find(lowerName(normalizeNs(ns)));
    if (it == namespaces_.end() || !it->second.classes.count(lowerName(base))) return false;
    return isSubclassOf(it->second, className, base);
}

}  // namespace minicimd
