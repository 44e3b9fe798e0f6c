// Qualifiers, properties, parameters, methods, classes and instances.
// Every handle shares its representation with its copies (as the reference
// library does); clone() copies deeply.  A default-constructed handle has no
// representation: using it throws UninitializedObjectException.
#include <Pegasus/Common/CIMQualifier.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMParameter.h>
#include <Pegasus/Common/CIMMethod.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/Exception.h>
#include <algorithm>
#include <atomic>
#include <vector>

#include "CIMObjectAccess.h"
#include "CIMValueRep.h"

PEGASUS_NAMESPACE_BEGIN

namespace {
template <class T>
T& checked(const std::shared_ptr<T>& rep)
{
    if (!rep) throw UninitializedObjectException();
    return *rep;
}

// Bumped by every rename of a qualifier, property, parameter or method.  A
// member handle shares its representation with the copy held in a list, so a
// rename through it changes the name behind that list's back; a list whose
// hashes predate the last rename does not trust them.
std::atomic<Uint64> renameEpoch{0};

void noteRename()
{
    renameEpoch.fetch_add(1, std::memory_order_relaxed);
}

// FNV-1a over the code units with ASCII letters folded, so that names equal
// without regard to case hash alike.
Uint32 foldedHash(const CIMName& name)
{
    const String& s = name.getString();
    const Char16* p = s.getChar16Data();
    Uint32 h = 2166136261u;
    for (Uint32 i = 0, n = s.size(); i < n; i++) {
        Uint16 c = Uint16(p[i]);
        if (c >= 'A' && c <= 'Z') c = Uint16(c + ('a' - 'A'));
        h = (h ^ c) * 16777619u;
    }
    return h;
}

// Named members (qualifiers, properties, parameters, methods) in insertion
// order, found by name without regard to case.  A list of a few members is
// searched in order; from kIndexFrom members on, a hash table of positions
// next to the members keeps adding and finding linear overall (an instance of
// hundreds of properties is read one addProperty at a time, and each add
// checks for a duplicate).
template <class T>
class NamedList {
public:
    Uint32 find(const CIMName& name) const
    {
        if (_slots.empty() || _epoch != renameEpoch.load(std::memory_order_relaxed)) return findInOrder(name);
        return findHashed(name, foldedHash(name));
    }
    void add(const T& x)
    {
        if (x.isUninitialized()) throw UninitializedObjectException();
        const CIMName& name = x.getName();
        if (_items.size() + 1 < kIndexFrom) {
            if (findInOrder(name) != PEG_NOT_FOUND) throw AlreadyExistsException(name.getString());
            _items.push_back(x);
            return;
        }
        if (_slots.empty() || _epoch != renameEpoch.load(std::memory_order_relaxed))
            rebuild(_items.size() + 1);
        const Uint32 h = foldedHash(name);
        if (findHashed(name, h) != PEG_NOT_FOUND) throw AlreadyExistsException(name.getString());
        if (2 * (_items.size() + 1) > _slots.size()) rebuild(_items.size() + 1);
        _items.push_back(x);
        _hashes.push_back(h);
        place(h, Uint32(_items.size()));
    }
    const T& at(Uint32 index) const
    {
        if (index >= _items.size()) throw IndexOutOfBoundsException();
        return _items[index];
    }
    void remove(Uint32 index)
    {
        if (index >= _items.size()) throw IndexOutOfBoundsException();
        _items.erase(_items.begin() + long(index));
        // Positions after the removed member shift down: index afresh.
        _slots.clear();
        _hashes.clear();
        if (_items.size() >= kIndexFrom) rebuild(_items.size());
    }
    Uint32 size() const { return Uint32(_items.size()); }
    // Room for `members` in all, so that a reader that knows how many are
    // coming moves and rehashes none of them on the way.
    void reserve(std::size_t members)
    {
        _items.reserve(members);
        if (members >= kIndexFrom) _hashes.reserve(members);
        _expected = members;
    }
    NamedList cloned() const
    {
        NamedList copy;
        copy._items.reserve(_items.size());
        for (const T& x : _items) copy._items.push_back(x.clone());
        // The clones carry the same names, so the same hashes.
        copy._hashes = _hashes;
        copy._slots = _slots;
        copy._epoch = _epoch;
        return copy;
    }

private:
    static constexpr std::size_t kIndexFrom = 8;

    Uint32 findInOrder(const CIMName& name) const
    {
        for (std::size_t i = 0; i < _items.size(); i++)
            if (_items[i].getName().equal(name)) return Uint32(i);
        return PEG_NOT_FOUND;
    }
    // Linear probing; slots hold position + 1, 0 when empty.  Members go in
    // in order, so among equal names the earliest is met first.
    Uint32 findHashed(const CIMName& name, Uint32 h) const
    {
        const std::size_t mask = _slots.size() - 1;
        for (std::size_t s = h & mask; _slots[s] != 0; s = (s + 1) & mask) {
            const Uint32 i = _slots[s] - 1;
            if (_hashes[i] == h && _items[i].getName().equal(name)) return i;
        }
        return PEG_NOT_FOUND;
    }
    void place(Uint32 h, Uint32 slotValue)
    {
        const std::size_t mask = _slots.size() - 1;
        std::size_t s = h & mask;
        while (_slots[s] != 0) s = (s + 1) & mask;
        _slots[s] = slotValue;
    }
    // Hashes every member afresh (names may have changed) into a table with
    // room for `members` at most half full.
    void rebuild(std::size_t members)
    {
        _epoch = renameEpoch.load(std::memory_order_relaxed);
        std::size_t slots = 16;
        while (slots < 2 * std::max(members, _expected)) slots *= 2;
        _slots.assign(slots, 0);
        _hashes.resize(_items.size());
        for (std::size_t i = 0; i < _items.size(); i++) {
            _hashes[i] = foldedHash(_items[i].getName());
            place(_hashes[i], Uint32(i + 1));
        }
    }

    std::vector<T> _items;
    std::vector<Uint32> _hashes;  // per member, once indexed
    std::vector<Uint32> _slots;   // empty until indexed; a power of two
    Uint64 _epoch = 0;            // renameEpoch when _hashes were taken
    std::size_t _expected = 0;    // members a reader said are coming
};

template <class A, class B>
bool identicalLists(const NamedList<A>& a, const NamedList<B>& b)
{
    if (a.size() != b.size()) return false;
    for (Uint32 i = 0; i < a.size(); i++)
        if (!a.at(i).identical(b.at(i))) return false;
    return true;
}

// Whether a boolean qualifier of that name is present and true.
bool qualifierIsTrue(const NamedList<CIMQualifier>& qualifiers, const char* name)
{
    const Uint32 i = qualifiers.find(CIMName(name));
    if (i == PEG_NOT_FOUND) return false;
    const CIMValue& v = qualifiers.at(i).getValue();
    if (v.getType() != CIMTYPE_BOOLEAN || v.isArray() || v.isNull()) return false;
    Boolean b = false;
    v.get(b);
    return b;
}
}  // namespace

struct CIMQualifierRep {
    CIMName name;
    InPlaceValue value;
    CIMFlavor flavor;
    Boolean propagated = false;
};

struct CIMPropertyRep {
    CIMPropertyRep() = default;
    CIMPropertyRep(const CIMName& n, const CIMValue& v) : name(n), value(v) {}
    CIMPropertyRep(const CIMName& n, CIMType type, Boolean isArray) : name(n)
    {
        value.get().setNullValue(type, isArray);
    }

    CIMName name;
    InPlaceValue value;
    CIMName referenceClassName;
    CIMName classOrigin;
    Uint32 arraySize = 0;
    Boolean propagated = false;
    NamedList<CIMQualifier> qualifiers;
};

struct CIMParameterRep {
    CIMName name;
    CIMType type = CIMTYPE_BOOLEAN;
    Boolean isArray = false;
    Uint32 arraySize = 0;
    CIMName referenceClassName;
    NamedList<CIMQualifier> qualifiers;
};

struct CIMMethodRep {
    CIMName name;
    CIMType type = CIMTYPE_BOOLEAN;
    CIMName classOrigin;
    Boolean propagated = false;
    NamedList<CIMQualifier> qualifiers;
    NamedList<CIMParameter> parameters;
};

struct CIMObjectRep {
    bool isClass = false;
    CIMName className;
    CIMName superClassName;
    CIMObjectPath path;
    NamedList<CIMQualifier> qualifiers;
    NamedList<CIMProperty> properties;
    NamedList<CIMMethod> methods;

    std::shared_ptr<CIMObjectRep> cloned() const
    {
        auto copy = std::make_shared<CIMObjectRep>();
        copy->isClass = isClass;
        copy->className = className;
        copy->superClassName = superClassName;
        copy->path = path;
        copy->qualifiers = qualifiers.cloned();
        copy->properties = properties.cloned();
        copy->methods = methods.cloned();
        return copy;
    }
};

// The qualifier members shared by every class that has qualifiers.
#define PEGASUS_QUALIFIER_MEMBERS(CLASS)                      \
    CLASS& CLASS::addQualifier(const CIMQualifier& x)         \
    {                                                         \
        checked(_rep).qualifiers.add(x);                      \
        return *this;                                         \
    }                                                         \
    Uint32 CLASS::findQualifier(const CIMName& name) const    \
    {                                                         \
        return checked(_rep).qualifiers.find(name);           \
    }                                                         \
    CIMQualifier CLASS::getQualifier(Uint32 index)            \
    {                                                         \
        return checked(_rep).qualifiers.at(index);            \
    }                                                         \
    CIMConstQualifier CLASS::getQualifier(Uint32 index) const \
    {                                                         \
        return checked(_rep).qualifiers.at(index);            \
    }                                                         \
    void CLASS::removeQualifier(Uint32 index)                 \
    {                                                         \
        checked(_rep).qualifiers.remove(index);               \
    }                                                         \
    Uint32 CLASS::getQualifierCount() const                   \
    {                                                         \
        return checked(_rep).qualifiers.size();               \
    }

#define PEGASUS_CONST_QUALIFIER_MEMBERS(CLASS)                \
    Uint32 CLASS::findQualifier(const CIMName& name) const    \
    {                                                         \
        return checked(_rep).qualifiers.find(name);           \
    }                                                         \
    CIMConstQualifier CLASS::getQualifier(Uint32 index) const \
    {                                                         \
        return checked(_rep).qualifiers.at(index);            \
    }                                                         \
    Uint32 CLASS::getQualifierCount() const                   \
    {                                                         \
        return checked(_rep).qualifiers.size();               \
    }

// ---------------------------------------------------------------------------
// CIMQualifier

namespace {
std::shared_ptr<CIMQualifierRep> makeQualifier(const CIMName& name, const CIMValue& value,
                                               const CIMFlavor& flavor, Boolean propagated)
{
    if (name.isNull()) throw UninitializedObjectException();
    auto rep = std::make_shared<CIMQualifierRep>();
    rep->name = name;
    rep->value = value;
    rep->flavor = flavor;
    rep->propagated = propagated;
    return rep;
}

bool identicalQualifiers(const CIMQualifierRep& a, const CIMQualifierRep& b)
{
    return a.name.equal(b.name) && a.value == b.value && a.flavor.equal(b.flavor) &&
           a.propagated == b.propagated;
}
}  // namespace

CIMQualifier::CIMQualifier() {}
CIMQualifier::CIMQualifier(const CIMQualifier& x) : _rep(x._rep) {}
CIMQualifier::CIMQualifier(const CIMName& name, const CIMValue& value, const CIMFlavor& flavor,
                           Boolean propagated)
    : _rep(makeQualifier(name, value, flavor, propagated))
{}
CIMQualifier::~CIMQualifier() {}
CIMQualifier& CIMQualifier::operator=(const CIMQualifier& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMQualifier::getName() const
{
    return checked(_rep).name;
}
void CIMQualifier::setName(const CIMName& name)
{
    if (name.isNull()) throw UninitializedObjectException();
    checked(_rep).name = name;
    noteRename();
}
CIMType CIMQualifier::getType() const
{
    return checked(_rep).value.get().getType();
}
Boolean CIMQualifier::isArray() const
{
    return checked(_rep).value.get().isArray();
}
const CIMValue& CIMQualifier::getValue() const
{
    return checked(_rep).value;
}
void CIMQualifier::setValue(const CIMValue& value)
{
    checked(_rep).value = value;
}
void CIMQualifier::setFlavor(const CIMFlavor& flavor)
{
    checked(_rep).flavor.addFlavor(flavor);
}
void CIMQualifier::unsetFlavor(const CIMFlavor& flavor)
{
    checked(_rep).flavor.removeFlavor(flavor);
}
const CIMFlavor& CIMQualifier::getFlavor() const
{
    return checked(_rep).flavor;
}
Boolean CIMQualifier::getPropagated() const
{
    return checked(_rep).propagated;
}
void CIMQualifier::setPropagated(Boolean propagated)
{
    checked(_rep).propagated = propagated;
}
Boolean CIMQualifier::isUninitialized() const
{
    return !_rep;
}
Boolean CIMQualifier::identical(const CIMConstQualifier& x) const
{
    return identicalQualifiers(checked(_rep), checked(x._rep));
}
CIMQualifier CIMQualifier::clone() const
{
    const CIMQualifierRep& r = checked(_rep);
    return CIMQualifier(r.name, r.value, r.flavor, r.propagated);
}

CIMConstQualifier::CIMConstQualifier() {}
CIMConstQualifier::CIMConstQualifier(const CIMConstQualifier& x) : _rep(x._rep) {}
CIMConstQualifier::CIMConstQualifier(const CIMQualifier& x) : _rep(x._rep) {}
CIMConstQualifier::CIMConstQualifier(const CIMName& name, const CIMValue& value, const CIMFlavor& flavor,
                                     Boolean propagated)
    : _rep(makeQualifier(name, value, flavor, propagated))
{}
CIMConstQualifier::~CIMConstQualifier() {}
CIMConstQualifier& CIMConstQualifier::operator=(const CIMConstQualifier& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstQualifier& CIMConstQualifier::operator=(const CIMQualifier& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstQualifier::getName() const
{
    return checked(_rep).name;
}
CIMType CIMConstQualifier::getType() const
{
    return checked(_rep).value.get().getType();
}
Boolean CIMConstQualifier::isArray() const
{
    return checked(_rep).value.get().isArray();
}
const CIMValue& CIMConstQualifier::getValue() const
{
    return checked(_rep).value;
}
const CIMFlavor& CIMConstQualifier::getFlavor() const
{
    return checked(_rep).flavor;
}
Boolean CIMConstQualifier::getPropagated() const
{
    return checked(_rep).propagated;
}
Boolean CIMConstQualifier::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstQualifier::identical(const CIMConstQualifier& x) const
{
    return identicalQualifiers(checked(_rep), checked(x._rep));
}
CIMQualifier CIMConstQualifier::clone() const
{
    const CIMQualifierRep& r = checked(_rep);
    return CIMQualifier(r.name, r.value, r.flavor, r.propagated);
}

// ---------------------------------------------------------------------------
// CIMProperty

namespace {
std::shared_ptr<CIMPropertyRep> makeProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize,
                                             const CIMName& referenceClassName, const CIMName& classOrigin,
                                             Boolean propagated)
{
    if (name.isNull()) throw UninitializedObjectException();
    // A fixed array size must fit the value; a reference class only suits a reference.
    if (arraySize && (!value.isArray() || (!value.isNull() && value.getArraySize() != arraySize)))
        throw TypeMismatchException("array size does not fit the value");
    if (!referenceClassName.isNull() && value.getType() != CIMTYPE_REFERENCE)
        throw TypeMismatchException("reference class given for a value that is not a reference");
    auto rep = std::make_shared<CIMPropertyRep>(name, value);
    rep->arraySize = arraySize;
    rep->referenceClassName = referenceClassName;
    rep->classOrigin = classOrigin;
    rep->propagated = propagated;
    return rep;
}

std::shared_ptr<CIMPropertyRep> cloneProperty(const CIMPropertyRep& r)
{
    auto rep = std::make_shared<CIMPropertyRep>(r);
    rep->qualifiers = r.qualifiers.cloned();
    return rep;
}

bool identicalProperties(const CIMPropertyRep& a, const CIMPropertyRep& b)
{
    return a.name.equal(b.name) && a.value == b.value && a.arraySize == b.arraySize &&
           a.referenceClassName.equal(b.referenceClassName) && a.classOrigin.equal(b.classOrigin) &&
           a.propagated == b.propagated && identicalLists(a.qualifiers, b.qualifiers);
}
}  // namespace

CIMProperty::CIMProperty() {}
CIMProperty::CIMProperty(const CIMProperty& x) : _rep(x._rep) {}
CIMProperty::CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize,
                         const CIMName& referenceClassName, const CIMName& classOrigin, Boolean propagated)
    : _rep(makeProperty(name, value, arraySize, referenceClassName, classOrigin, propagated))
{}
CIMProperty::~CIMProperty() {}
CIMProperty& CIMProperty::operator=(const CIMProperty& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMProperty::getName() const
{
    return checked(_rep).name;
}
void CIMProperty::setName(const CIMName& name)
{
    if (name.isNull()) throw UninitializedObjectException();
    checked(_rep).name = name;
    noteRename();
}
const CIMValue& CIMProperty::getValue() const
{
    return checked(_rep).value;
}
CIMType CIMProperty::getType() const
{
    return checked(_rep).value.get().getType();
}
Boolean CIMProperty::isArray() const
{
    return checked(_rep).value.get().isArray();
}
void CIMProperty::setValue(const CIMValue& value)
{
    CIMPropertyRep& r = checked(_rep);
    // The type of a property is fixed when it is made.
    if (!value.typeCompatible(r.value)) throw TypeMismatchException();
    r.value = value;
}
Uint32 CIMProperty::getArraySize() const
{
    return checked(_rep).arraySize;
}
const CIMName& CIMProperty::getReferenceClassName() const
{
    return checked(_rep).referenceClassName;
}
const CIMName& CIMProperty::getClassOrigin() const
{
    return checked(_rep).classOrigin;
}
void CIMProperty::setClassOrigin(const CIMName& classOrigin)
{
    checked(_rep).classOrigin = classOrigin;
}
Boolean CIMProperty::getPropagated() const
{
    return checked(_rep).propagated;
}
void CIMProperty::setPropagated(Boolean propagated)
{
    checked(_rep).propagated = propagated;
}
PEGASUS_QUALIFIER_MEMBERS(CIMProperty)
Boolean CIMProperty::isUninitialized() const
{
    return !_rep;
}
Boolean CIMProperty::identical(const CIMConstProperty& x) const
{
    return identicalProperties(checked(_rep), checked(x._rep));
}
CIMProperty CIMProperty::clone() const
{
    CIMProperty copy;
    copy._rep = cloneProperty(checked(_rep));
    return copy;
}

CIMProperty CIMObjectAccess::makeProperty(const CIMName& name, CIMType type, Boolean isArray,
                                          Uint32 arraySize, const CIMName& referenceClassName,
                                          const CIMName& classOrigin, Boolean propagated)
{
    if (name.isNull()) throw UninitializedObjectException();
    if (arraySize && !isArray) throw TypeMismatchException("array size does not fit the value");
    if (!referenceClassName.isNull() && type != CIMTYPE_REFERENCE)
        throw TypeMismatchException("reference class given for a value that is not a reference");
    CIMProperty p;
    p._rep = std::make_shared<CIMPropertyRep>(name, type, isArray);
    p._rep->arraySize = arraySize;
    p._rep->referenceClassName = referenceClassName;
    p._rep->classOrigin = classOrigin;
    p._rep->propagated = propagated;
    return p;
}

void CIMObjectAccess::reserveProperties(CIMInstance& owner, Uint32 count)
{
    checked(owner._rep).properties.reserve(count);
}

void CIMObjectAccess::reserveProperties(CIMClass& owner, Uint32 count)
{
    checked(owner._rep).properties.reserve(count);
}

CIMValue& CIMObjectAccess::valueOf(CIMProperty& p)
{
    return checked(p._rep).value;
}

CIMConstProperty::CIMConstProperty() {}
CIMConstProperty::CIMConstProperty(const CIMConstProperty& x) : _rep(x._rep) {}
CIMConstProperty::CIMConstProperty(const CIMProperty& x) : _rep(x._rep) {}
CIMConstProperty::CIMConstProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize,
                                   const CIMName& referenceClassName, const CIMName& classOrigin,
                                   Boolean propagated)
    : _rep(makeProperty(name, value, arraySize, referenceClassName, classOrigin, propagated))
{}
CIMConstProperty::~CIMConstProperty() {}
CIMConstProperty& CIMConstProperty::operator=(const CIMConstProperty& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstProperty& CIMConstProperty::operator=(const CIMProperty& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstProperty::getName() const
{
    return checked(_rep).name;
}
const CIMValue& CIMConstProperty::getValue() const
{
    return checked(_rep).value;
}
CIMType CIMConstProperty::getType() const
{
    return checked(_rep).value.get().getType();
}
Boolean CIMConstProperty::isArray() const
{
    return checked(_rep).value.get().isArray();
}
Uint32 CIMConstProperty::getArraySize() const
{
    return checked(_rep).arraySize;
}
const CIMName& CIMConstProperty::getReferenceClassName() const
{
    return checked(_rep).referenceClassName;
}
const CIMName& CIMConstProperty::getClassOrigin() const
{
    return checked(_rep).classOrigin;
}
Boolean CIMConstProperty::getPropagated() const
{
    return checked(_rep).propagated;
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstProperty)
Boolean CIMConstProperty::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstProperty::identical(const CIMConstProperty& x) const
{
    return identicalProperties(checked(_rep), checked(x._rep));
}
CIMProperty CIMConstProperty::clone() const
{
    CIMProperty copy;
    copy._rep = cloneProperty(checked(_rep));
    return copy;
}

// ---------------------------------------------------------------------------
// CIMParameter

namespace {
std::shared_ptr<CIMParameterRep> makeParameter(const CIMName& name, CIMType type, Boolean isArray,
                                               Uint32 arraySize, const CIMName& referenceClassName)
{
    if (name.isNull()) throw UninitializedObjectException();
    if (arraySize && !isArray) throw TypeMismatchException("array size given for a scalar parameter");
    if (!referenceClassName.isNull() && type != CIMTYPE_REFERENCE)
        throw TypeMismatchException("reference class given for a parameter that is not a reference");
    auto rep = std::make_shared<CIMParameterRep>();
    rep->name = name;
    rep->type = type;
    rep->isArray = isArray;
    rep->arraySize = arraySize;
    rep->referenceClassName = referenceClassName;
    return rep;
}

bool identicalParameters(const CIMParameterRep& a, const CIMParameterRep& b)
{
    return a.name.equal(b.name) && a.type == b.type && a.isArray == b.isArray && a.arraySize == b.arraySize &&
           a.referenceClassName.equal(b.referenceClassName) && identicalLists(a.qualifiers, b.qualifiers);
}
}  // namespace

CIMParameter::CIMParameter() {}
CIMParameter::CIMParameter(const CIMParameter& x) : _rep(x._rep) {}
CIMParameter::CIMParameter(const CIMName& name, CIMType type, Boolean isArray, Uint32 arraySize,
                           const CIMName& referenceClassName)
    : _rep(makeParameter(name, type, isArray, arraySize, referenceClassName))
{}
CIMParameter::~CIMParameter() {}
CIMParameter& CIMParameter::operator=(const CIMParameter& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMParameter::getName() const
{
    return checked(_rep).name;
}
void CIMParameter::setName(const CIMName& name)
{
    if (name.isNull()) throw UninitializedObjectException();
    checked(_rep).name = name;
    noteRename();
}
CIMType CIMParameter::getType() const
{
    return checked(_rep).type;
}
Boolean CIMParameter::isArray() const
{
    return checked(_rep).isArray;
}
Uint32 CIMParameter::getArraySize() const
{
    return checked(_rep).arraySize;
}
const CIMName& CIMParameter::getReferenceClassName() const
{
    return checked(_rep).referenceClassName;
}
PEGASUS_QUALIFIER_MEMBERS(CIMParameter)
Boolean CIMParameter::isUninitialized() const
{
    return !_rep;
}
Boolean CIMParameter::identical(const CIMConstParameter& x) const
{
    return identicalParameters(checked(_rep), checked(x._rep));
}
CIMParameter CIMParameter::clone() const
{
    CIMParameter copy;
    copy._rep = std::make_shared<CIMParameterRep>(checked(_rep));
    copy._rep->qualifiers = _rep->qualifiers.cloned();
    return copy;
}

CIMConstParameter::CIMConstParameter() {}
CIMConstParameter::CIMConstParameter(const CIMConstParameter& x) : _rep(x._rep) {}
CIMConstParameter::CIMConstParameter(const CIMParameter& x) : _rep(x._rep) {}
CIMConstParameter::CIMConstParameter(const CIMName& name, CIMType type, Boolean isArray, Uint32 arraySize,
                                     const CIMName& referenceClassName)
    : _rep(makeParameter(name, type, isArray, arraySize, referenceClassName))
{}
CIMConstParameter::~CIMConstParameter() {}
CIMConstParameter& CIMConstParameter::operator=(const CIMConstParameter& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstParameter& CIMConstParameter::operator=(const CIMParameter& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstParameter::getName() const
{
    return checked(_rep).name;
}
CIMType CIMConstParameter::getType() const
{
    return checked(_rep).type;
}
Boolean CIMConstParameter::isArray() const
{
    return checked(_rep).isArray;
}
Uint32 CIMConstParameter::getArraySize() const
{
    return checked(_rep).arraySize;
}
const CIMName& CIMConstParameter::getReferenceClassName() const
{
    return checked(_rep).referenceClassName;
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstParameter)
Boolean CIMConstParameter::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstParameter::identical(const CIMConstParameter& x) const
{
    return identicalParameters(checked(_rep), checked(x._rep));
}
CIMParameter CIMConstParameter::clone() const
{
    CIMParameter copy;
    copy._rep = std::make_shared<CIMParameterRep>(checked(_rep));
    copy._rep->qualifiers = _rep->qualifiers.cloned();
    return copy;
}

// ---------------------------------------------------------------------------
// CIMMethod

namespace {
std::shared_ptr<CIMMethodRep> makeMethod(const CIMName& name, CIMType type, const CIMName& classOrigin,
                                         Boolean propagated)
{
    if (name.isNull()) throw UninitializedObjectException();
    auto rep = std::make_shared<CIMMethodRep>();
    rep->name = name;
    rep->type = type;
    rep->classOrigin = classOrigin;
    rep->propagated = propagated;
    return rep;
}

bool identicalMethods(const CIMMethodRep& a, const CIMMethodRep& b)
{
    return a.name.equal(b.name) && a.type == b.type && a.classOrigin.equal(b.classOrigin) &&
           a.propagated == b.propagated && identicalLists(a.qualifiers, b.qualifiers) &&
           identicalLists(a.parameters, b.parameters);
}
}  // namespace

CIMMethod::CIMMethod() {}
CIMMethod::CIMMethod(const CIMMethod& x) : _rep(x._rep) {}
CIMMethod::CIMMethod(const CIMName& name, CIMType type, const CIMName& classOrigin, Boolean propagated)
    : _rep(makeMethod(name, type, classOrigin, propagated))
{}
CIMMethod::~CIMMethod() {}
CIMMethod& CIMMethod::operator=(const CIMMethod& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMMethod::getName() const
{
    return checked(_rep).name;
}
void CIMMethod::setName(const CIMName& name)
{
    if (name.isNull()) throw UninitializedObjectException();
    checked(_rep).name = name;
    noteRename();
}
CIMType CIMMethod::getType() const
{
    return checked(_rep).type;
}
void CIMMethod::setType(CIMType type)
{
    checked(_rep).type = type;
}
const CIMName& CIMMethod::getClassOrigin() const
{
    return checked(_rep).classOrigin;
}
void CIMMethod::setClassOrigin(const CIMName& classOrigin)
{
    checked(_rep).classOrigin = classOrigin;
}
Boolean CIMMethod::getPropagated() const
{
    return checked(_rep).propagated;
}
void CIMMethod::setPropagated(Boolean propagated)
{
    checked(_rep).propagated = propagated;
}
PEGASUS_QUALIFIER_MEMBERS(CIMMethod)
CIMMethod& CIMMethod::addParameter(const CIMParameter& x)
{
    checked(_rep).parameters.add(x);
    return *this;
}
Uint32 CIMMethod::findParameter(const CIMName& name) const
{
    return checked(_rep).parameters.find(name);
}
CIMParameter CIMMethod::getParameter(Uint32 index)
{
    return checked(_rep).parameters.at(index);
}
CIMConstParameter CIMMethod::getParameter(Uint32 index) const
{
    return checked(_rep).parameters.at(index);
}
void CIMMethod::removeParameter(Uint32 index)
{
    checked(_rep).parameters.remove(index);
}
Uint32 CIMMethod::getParameterCount() const
{
    return checked(_rep).parameters.size();
}
Boolean CIMMethod::isUninitialized() const
{
    return !_rep;
}
Boolean CIMMethod::identical(const CIMConstMethod& x) const
{
    return identicalMethods(checked(_rep), checked(x._rep));
}
CIMMethod CIMMethod::clone() const
{
    CIMMethod copy;
    copy._rep = std::make_shared<CIMMethodRep>(checked(_rep));
    copy._rep->qualifiers = _rep->qualifiers.cloned();
    copy._rep->parameters = _rep->parameters.cloned();
    return copy;
}

CIMConstMethod::CIMConstMethod() {}
CIMConstMethod::CIMConstMethod(const CIMConstMethod& x) : _rep(x._rep) {}
CIMConstMethod::CIMConstMethod(const CIMMethod& x) : _rep(x._rep) {}
CIMConstMethod::CIMConstMethod(const CIMName& name, CIMType type, const CIMName& classOrigin,
                               Boolean propagated)
    : _rep(makeMethod(name, type, classOrigin, propagated))
{}
CIMConstMethod::~CIMConstMethod() {}
CIMConstMethod& CIMConstMethod::operator=(const CIMConstMethod& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstMethod& CIMConstMethod::operator=(const CIMMethod& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstMethod::getName() const
{
    return checked(_rep).name;
}
CIMType CIMConstMethod::getType() const
{
    return checked(_rep).type;
}
const CIMName& CIMConstMethod::getClassOrigin() const
{
    return checked(_rep).classOrigin;
}
Boolean CIMConstMethod::getPropagated() const
{
    return checked(_rep).propagated;
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstMethod)
Uint32 CIMConstMethod::findParameter(const CIMName& name) const
{
    return checked(_rep).parameters.find(name);
}
CIMConstParameter CIMConstMethod::getParameter(Uint32 index) const
{
    return checked(_rep).parameters.at(index);
}
Uint32 CIMConstMethod::getParameterCount() const
{
    return checked(_rep).parameters.size();
}
Boolean CIMConstMethod::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstMethod::identical(const CIMConstMethod& x) const
{
    return identicalMethods(checked(_rep), checked(x._rep));
}
CIMMethod CIMConstMethod::clone() const
{
    CIMMethod copy;
    copy._rep = std::make_shared<CIMMethodRep>(checked(_rep));
    copy._rep->qualifiers = _rep->qualifiers.cloned();
    copy._rep->parameters = _rep->parameters.cloned();
    return copy;
}

// ---------------------------------------------------------------------------
// Classes, instances and the objects that hold either.

namespace {
std::shared_ptr<CIMObjectRep> makeObject(bool isClass, const CIMName& className,
                                         const CIMName& superClassName = CIMName())
{
    if (className.isNull()) throw UninitializedObjectException();
    auto rep = std::make_shared<CIMObjectRep>();
    rep->isClass = isClass;
    rep->className = className;
    rep->superClassName = superClassName;
    rep->path.setClassName(className);
    return rep;
}

std::shared_ptr<CIMObjectRep> expect(const std::shared_ptr<CIMObjectRep>& rep, bool isClass)
{
    if (rep && rep->isClass != isClass) throw DynamicCastFailedException();
    return rep;
}

bool identicalObjects(const CIMObjectRep& a, const CIMObjectRep& b)
{
    return a.isClass == b.isClass && a.className.equal(b.className) &&
           a.superClassName.equal(b.superClassName) && a.path == b.path &&
           identicalLists(a.qualifiers, b.qualifiers) && identicalLists(a.properties, b.properties) &&
           identicalLists(a.methods, b.methods);
}

// Properties with a true boolean Key qualifier, in property order.
void keyNames_(const CIMObjectRep& rep, Array<CIMName>& names)
{
    names.clear();
    for (Uint32 i = 0; i < rep.properties.size(); i++) {
        const CIMConstProperty p = rep.properties.at(i);
        const Uint32 k = p.findQualifier(CIMName("Key"));
        if (k == PEG_NOT_FOUND) continue;
        const CIMValue& v = p.getQualifier(k).getValue();
        Boolean isKey = false;
        if (v.getType() == CIMTYPE_BOOLEAN && !v.isArray() && !v.isNull()) v.get(isKey);
        if (isKey) names.append(p.getName());
    }
}
}  // namespace

#define PEGASUS_PROPERTY_MEMBERS(CLASS)                     \
    CLASS& CLASS::addProperty(const CIMProperty& x)         \
    {                                                       \
        checked(_rep).properties.add(x);                    \
        return *this;                                       \
    }                                                       \
    Uint32 CLASS::findProperty(const CIMName& name) const   \
    {                                                       \
        return checked(_rep).properties.find(name);         \
    }                                                       \
    CIMProperty CLASS::getProperty(Uint32 index)            \
    {                                                       \
        return checked(_rep).properties.at(index);          \
    }                                                       \
    CIMConstProperty CLASS::getProperty(Uint32 index) const \
    {                                                       \
        return checked(_rep).properties.at(index);          \
    }                                                       \
    void CLASS::removeProperty(Uint32 index)                \
    {                                                       \
        checked(_rep).properties.remove(index);             \
    }                                                       \
    Uint32 CLASS::getPropertyCount() const                  \
    {                                                       \
        return checked(_rep).properties.size();             \
    }

#define PEGASUS_CONST_PROPERTY_MEMBERS(CLASS)               \
    Uint32 CLASS::findProperty(const CIMName& name) const   \
    {                                                       \
        return checked(_rep).properties.find(name);         \
    }                                                       \
    CIMConstProperty CLASS::getProperty(Uint32 index) const \
    {                                                       \
        return checked(_rep).properties.at(index);          \
    }                                                       \
    Uint32 CLASS::getPropertyCount() const                  \
    {                                                       \
        return checked(_rep).properties.size();             \
    }

// CIMObject

CIMObject::CIMObject() {}
CIMObject::CIMObject(const CIMObject& x) : _rep(x._rep) {}
CIMObject::CIMObject(const CIMClass& x) : _rep(x._rep) {}
CIMObject::CIMObject(const CIMInstance& x) : _rep(x._rep) {}
CIMObject::~CIMObject() {}
CIMObject& CIMObject::operator=(const CIMObject& x)
{
    _rep = x._rep;
    return *this;
}
CIMObject& CIMObject::operator=(const CIMClass& x)
{
    _rep = x._rep;
    return *this;
}
CIMObject& CIMObject::operator=(const CIMInstance& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMObject::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMObject::getPath() const
{
    return checked(_rep).path;
}
void CIMObject::setPath(const CIMObjectPath& path)
{
    checked(_rep).path = path;
}
PEGASUS_QUALIFIER_MEMBERS(CIMObject)
PEGASUS_PROPERTY_MEMBERS(CIMObject)
Boolean CIMObject::isClass() const
{
    return checked(_rep).isClass;
}
Boolean CIMObject::isInstance() const
{
    return !checked(_rep).isClass;
}
Boolean CIMObject::isUninitialized() const
{
    return !_rep;
}
Boolean CIMObject::identical(const CIMConstObject& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMObject CIMObject::clone() const
{
    CIMObject copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

CIMConstObject::CIMConstObject() {}
CIMConstObject::CIMConstObject(const CIMConstObject& x) : _rep(x._rep) {}
CIMConstObject::CIMConstObject(const CIMObject& x) : _rep(x._rep) {}
CIMConstObject::CIMConstObject(const CIMClass& x) : _rep(x._rep) {}
CIMConstObject::CIMConstObject(const CIMConstClass& x) : _rep(x._rep) {}
CIMConstObject::CIMConstObject(const CIMInstance& x) : _rep(x._rep) {}
CIMConstObject::CIMConstObject(const CIMConstInstance& x) : _rep(x._rep) {}
CIMConstObject::~CIMConstObject() {}
CIMConstObject& CIMConstObject::operator=(const CIMConstObject& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstObject::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMConstObject::getPath() const
{
    return checked(_rep).path;
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstObject)
PEGASUS_CONST_PROPERTY_MEMBERS(CIMConstObject)
Boolean CIMConstObject::isClass() const
{
    return checked(_rep).isClass;
}
Boolean CIMConstObject::isInstance() const
{
    return !checked(_rep).isClass;
}
Boolean CIMConstObject::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstObject::identical(const CIMConstObject& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMObject CIMConstObject::clone() const
{
    CIMObject copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

// CIMInstance

CIMInstance::CIMInstance() {}
CIMInstance::CIMInstance(const CIMInstance& x) : _rep(x._rep) {}
CIMInstance::CIMInstance(const CIMObject& x) : _rep(expect(x._rep, false)) {}
CIMInstance::CIMInstance(const CIMName& className) : _rep(makeObject(false, className)) {}
CIMInstance::~CIMInstance() {}
CIMInstance& CIMInstance::operator=(const CIMInstance& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMInstance::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMInstance::getPath() const
{
    return checked(_rep).path;
}
void CIMInstance::setPath(const CIMObjectPath& path)
{
    checked(_rep).path = path;
}
PEGASUS_QUALIFIER_MEMBERS(CIMInstance)
PEGASUS_PROPERTY_MEMBERS(CIMInstance)
Boolean CIMInstance::isUninitialized() const
{
    return !_rep;
}
Boolean CIMInstance::identical(const CIMConstInstance& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMInstance CIMInstance::clone() const
{
    CIMInstance copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

CIMConstInstance::CIMConstInstance() {}
CIMConstInstance::CIMConstInstance(const CIMConstInstance& x) : _rep(x._rep) {}
CIMConstInstance::CIMConstInstance(const CIMInstance& x) : _rep(x._rep) {}
CIMConstInstance::CIMConstInstance(const CIMObject& x) : _rep(expect(x._rep, false)) {}
CIMConstInstance::CIMConstInstance(const CIMConstObject& x) : _rep(expect(x._rep, false)) {}
CIMConstInstance::CIMConstInstance(const CIMName& className) : _rep(makeObject(false, className)) {}
CIMConstInstance::~CIMConstInstance() {}
CIMConstInstance& CIMConstInstance::operator=(const CIMConstInstance& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstInstance& CIMConstInstance::operator=(const CIMInstance& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstInstance::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMConstInstance::getPath() const
{
    return checked(_rep).path;
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstInstance)
PEGASUS_CONST_PROPERTY_MEMBERS(CIMConstInstance)
Boolean CIMConstInstance::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstInstance::identical(const CIMConstInstance& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMInstance CIMConstInstance::clone() const
{
    CIMInstance copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

// CIMClass

#define PEGASUS_METHOD_MEMBERS(CLASS)                   \
    CLASS& CLASS::addMethod(const CIMMethod& x)         \
    {                                                   \
        checked(_rep).methods.add(x);                   \
        return *this;                                   \
    }                                                   \
    Uint32 CLASS::findMethod(const CIMName& name) const \
    {                                                   \
        return checked(_rep).methods.find(name);        \
    }                                                   \
    CIMMethod CLASS::getMethod(Uint32 index)            \
    {                                                   \
        return checked(_rep).methods.at(index);         \
    }                                                   \
    CIMConstMethod CLASS::getMethod(Uint32 index) const \
    {                                                   \
        return checked(_rep).methods.at(index);         \
    }                                                   \
    void CLASS::removeMethod(Uint32 index)              \
    {                                                   \
        checked(_rep).methods.remove(index);            \
    }                                                   \
    Uint32 CLASS::getMethodCount() const                \
    {                                                   \
        return checked(_rep).methods.size();            \
    }

CIMClass::CIMClass() {}
CIMClass::CIMClass(const CIMClass& x) : _rep(x._rep) {}
CIMClass::CIMClass(const CIMObject& x) : _rep(expect(x._rep, true)) {}
CIMClass::CIMClass(const CIMName& className, const CIMName& superClassName)
    : _rep(makeObject(true, className, superClassName))
{}
CIMClass::~CIMClass() {}
CIMClass& CIMClass::operator=(const CIMClass& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMClass::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMClass::getPath() const
{
    return checked(_rep).path;
}
void CIMClass::setPath(const CIMObjectPath& path)
{
    checked(_rep).path = path;
}
const CIMName& CIMClass::getSuperClassName() const
{
    return checked(_rep).superClassName;
}
void CIMClass::setSuperClassName(const CIMName& superClassName)
{
    checked(_rep).superClassName = superClassName;
}
Boolean CIMClass::isAbstract() const
{
    return qualifierIsTrue(checked(_rep).qualifiers, "Abstract");
}
Boolean CIMClass::isAssociation() const
{
    return qualifierIsTrue(checked(_rep).qualifiers, "Association");
}
PEGASUS_QUALIFIER_MEMBERS(CIMClass)
PEGASUS_PROPERTY_MEMBERS(CIMClass)
PEGASUS_METHOD_MEMBERS(CIMClass)
void CIMClass::getKeyNames(Array<CIMName>& keyNames) const
{
    keyNames_(checked(_rep), keyNames);
}
Boolean CIMClass::hasKeys() const
{
    Array<CIMName> names;
    getKeyNames(names);
    return names.size() > 0;
}
Boolean CIMClass::isUninitialized() const
{
    return !_rep;
}
Boolean CIMClass::identical(const CIMConstClass& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMClass CIMClass::clone() const
{
    CIMClass copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

CIMConstClass::CIMConstClass() {}
CIMConstClass::CIMConstClass(const CIMConstClass& x) : _rep(x._rep) {}
CIMConstClass::CIMConstClass(const CIMClass& x) : _rep(x._rep) {}
CIMConstClass::CIMConstClass(const CIMObject& x) : _rep(expect(x._rep, true)) {}
CIMConstClass::CIMConstClass(const CIMConstObject& x) : _rep(expect(x._rep, true)) {}
CIMConstClass::CIMConstClass(const CIMName& className, const CIMName& superClassName)
    : _rep(makeObject(true, className, superClassName))
{}
CIMConstClass::~CIMConstClass() {}
CIMConstClass& CIMConstClass::operator=(const CIMConstClass& x)
{
    _rep = x._rep;
    return *this;
}
CIMConstClass& CIMConstClass::operator=(const CIMClass& x)
{
    _rep = x._rep;
    return *this;
}
const CIMName& CIMConstClass::getClassName() const
{
    return checked(_rep).className;
}
const CIMObjectPath& CIMConstClass::getPath() const
{
    return checked(_rep).path;
}
const CIMName& CIMConstClass::getSuperClassName() const
{
    return checked(_rep).superClassName;
}
Boolean CIMConstClass::isAbstract() const
{
    return qualifierIsTrue(checked(_rep).qualifiers, "Abstract");
}
Boolean CIMConstClass::isAssociation() const
{
    return qualifierIsTrue(checked(_rep).qualifiers, "Association");
}
PEGASUS_CONST_QUALIFIER_MEMBERS(CIMConstClass)
PEGASUS_CONST_PROPERTY_MEMBERS(CIMConstClass)
Uint32 CIMConstClass::findMethod(const CIMName& name) const
{
    return checked(_rep).methods.find(name);
}
CIMConstMethod CIMConstClass::getMethod(Uint32 index) const
{
    return checked(_rep).methods.at(index);
}
Uint32 CIMConstClass::getMethodCount() const
{
    return checked(_rep).methods.size();
}
void CIMConstClass::getKeyNames(Array<CIMName>& keyNames) const
{
    keyNames_(checked(_rep), keyNames);
}
Boolean CIMConstClass::hasKeys() const
{
    Array<CIMName> names;
    getKeyNames(names);
    return names.size() > 0;
}
Boolean CIMConstClass::isUninitialized() const
{
    return !_rep;
}
Boolean CIMConstClass::identical(const CIMConstClass& x) const
{
    return identicalObjects(checked(_rep), checked(x._rep));
}
CIMClass CIMConstClass::clone() const
{
    CIMClass copy;
    copy._rep = checked(_rep).cloned();
    return copy;
}

PEGASUS_NAMESPACE_END
