// CIMValue: a tagged union of the CIM scalar types and arrays of them.
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMClass.h>
#include "CIMValueRep.h"
#include <cmath>
#include <cstdio>
#include <memory>
#include <type_traits>
#include <variant>

PEGASUS_NAMESPACE_BEGIN

namespace {
template <class T>
struct TypeOf;
#define PEGASUS_TYPE_OF(T, CODE)          \
    template <>                           \
    struct TypeOf<T> {                    \
        static const CIMType code = CODE; \
    }
PEGASUS_TYPE_OF(Boolean, CIMTYPE_BOOLEAN);
PEGASUS_TYPE_OF(Uint8, CIMTYPE_UINT8);
PEGASUS_TYPE_OF(Sint8, CIMTYPE_SINT8);
PEGASUS_TYPE_OF(Uint16, CIMTYPE_UINT16);
PEGASUS_TYPE_OF(Sint16, CIMTYPE_SINT16);
PEGASUS_TYPE_OF(Uint32, CIMTYPE_UINT32);
PEGASUS_TYPE_OF(Sint32, CIMTYPE_SINT32);
PEGASUS_TYPE_OF(Uint64, CIMTYPE_UINT64);
PEGASUS_TYPE_OF(Sint64, CIMTYPE_SINT64);
PEGASUS_TYPE_OF(Real32, CIMTYPE_REAL32);
PEGASUS_TYPE_OF(Real64, CIMTYPE_REAL64);
PEGASUS_TYPE_OF(Char16, CIMTYPE_CHAR16);
PEGASUS_TYPE_OF(String, CIMTYPE_STRING);
PEGASUS_TYPE_OF(CIMDateTime, CIMTYPE_DATETIME);
PEGASUS_TYPE_OF(CIMObjectPath, CIMTYPE_REFERENCE);
PEGASUS_TYPE_OF(CIMObject, CIMTYPE_OBJECT);
PEGASUS_TYPE_OF(CIMInstance, CIMTYPE_INSTANCE);
#undef PEGASUS_TYPE_OF

// Embedded objects are copied on the way in and out, so that a value never
// shares an object with its caller.
template <class T>
T ownCopy(const T& x)
{
    return x;
}
CIMObject ownCopy(const CIMObject& x)
{
    if (x.isUninitialized()) throw UninitializedObjectException();
    return x.clone();
}
CIMInstance ownCopy(const CIMInstance& x)
{
    if (x.isUninitialized()) throw UninitializedObjectException();
    return x.clone();
}
template <class T>
Array<T> ownCopy(const Array<T>& x)
{
    Array<T> copy;
    copy.reserveCapacity(x.size());
    for (Uint32 i = 0; i < x.size(); i++) copy.append(ownCopy(x[i]));
    return copy;
}

template <class T>
void setScalar(CIMValueRep& rep, const T& x)
{
    CIMValueRep::Data data(ownCopy(x));
    rep.data.swap(data);
    rep.type = TypeOf<T>::code;
    rep.isArray = false;
}

// A representation being made (its owner deletes it if this throws) gets its
// content constructed in place.  String and Array have no move constructors,
// so the construct-and-swap of setScalar and setArray copies the content
// again on the way in; only an object in use needs that guarantee.
template <class T>
void initScalar(CIMValueRep& rep, const T& x)
{
    if constexpr (std::is_same_v<T, CIMObject> || std::is_same_v<T, CIMInstance>)
        rep.data.template emplace<T>(ownCopy(x));
    else
        rep.data.template emplace<T>(x);
    rep.type = TypeOf<T>::code;
    rep.isArray = false;
}

template <class T>
void initArray(CIMValueRep& rep, const Array<T>& x)
{
    if constexpr (std::is_same_v<T, CIMObject> || std::is_same_v<T, CIMInstance>)
        rep.data.template emplace<Array<T>>(ownCopy(x));
    else
        rep.data.template emplace<Array<T>>(x);
    rep.type = TypeOf<T>::code;
    rep.isArray = true;
}

template <class T>
void setArray(CIMValueRep& rep, const Array<T>& x)
{
    CIMValueRep::Data data(ownCopy(x));
    rep.data.swap(data);
    rep.type = TypeOf<T>::code;
    rep.isArray = true;
}

[[noreturn]] void mismatch(const CIMValueRep& rep, CIMType wanted, bool wantArray)
{
    char text[128];
    std::snprintf(text, sizeof text, "value of type %s%s read as %s%s", cimTypeToString(rep.type),
                  rep.isArray ? "[]" : "", cimTypeToString(wanted), wantArray ? "[]" : "");
    throw TypeMismatchException(String(text));
}

template <class T>
void getScalar(const CIMValueRep& rep, T& x)
{
    if (rep.type != TypeOf<T>::code || rep.isArray) mismatch(rep, TypeOf<T>::code, false);
    if (const T* p = std::get_if<T>(&rep.data)) x = ownCopy(*p);
}

template <class T>
void getArray(const CIMValueRep& rep, Array<T>& x)
{
    if (rep.type != TypeOf<T>::code || !rep.isArray) mismatch(rep, TypeOf<T>::code, true);
    if (const Array<T>* p = std::get_if<Array<T>>(&rep.data)) x = ownCopy(*p);
}

// ---- text forms

void appendText(String& out, Boolean x)
{
    out.append(String(x ? "TRUE" : "FALSE"));
}

void appendNumber(String& out, const char* format, long long x)
{
    char b[32];
    std::snprintf(b, sizeof b, format, x);
    out.append(String(b));
}

void appendText(String& out, Uint8 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Sint8 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Uint16 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Sint16 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Uint32 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Sint32 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Sint64 x)
{
    appendNumber(out, "%lld", x);
}
void appendText(String& out, Uint64 x)
{
    char b[32];
    std::snprintf(b, sizeof b, "%llu", x);
    out.append(String(b));
}
void appendText(String& out, Real64 x)
{
    if (std::isnan(x))
        out.append(String("NaN"));
    else if (std::isinf(x))
        out.append(String(x < 0 ? "-INF" : "INF"));
    else {
        char b[64];
        std::snprintf(b, sizeof b, "%.16e", x);
        out.append(String(b));
    }
}
void appendText(String& out, Real32 x)
{
    appendText(out, Real64(x));
}
void appendText(String& out, const Char16& x)
{
    out.append(x);
}
void appendText(String& out, const String& x)
{
    out.append(x);
}
void appendText(String& out, const CIMDateTime& x)
{
    out.append(x.toString());
}
void appendText(String& out, const CIMObjectPath& x)
{
    out.append(x.toString());
}
void appendText(String& out, const CIMObject& x)
{
    // The class name and properties, "Class{Name=value;...}".
    if (x.isUninitialized()) return;
    out.append(x.getClassName().getString());
    out.append(Char16('{'));
    for (Uint32 i = 0; i < x.getPropertyCount(); i++) {
        CIMConstProperty p = x.getProperty(i);
        out.append(p.getName().getString());
        out.append(Char16('='));
        out.append(p.getValue().toString());
        out.append(Char16(';'));
    }
    out.append(Char16('}'));
}
void appendText(String& out, const CIMInstance& x)
{
    appendText(out, CIMObject(x));
}
template <class T>
void appendText(String& out, const Array<T>& x)
{
    // Every element is followed by one space, as the reference writes it.
    for (Uint32 i = 0; i < x.size(); i++) {
        appendText(out, x[i]);
        out.append(Char16(' '));
    }
}
void appendText(String&, const std::monostate&) {}

// ---- equality

template <class T>
bool same(const T& a, const T& b)
{
    return a == b;
}
bool same(const Real32& a, const Real32& b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}
bool same(const Real64& a, const Real64& b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}
bool same(const CIMObject& a, const CIMObject& b)
{
    return a.identical(b);
}
bool same(const CIMInstance& a, const CIMInstance& b)
{
    return a.identical(b);
}
template <class T>
bool same(const Array<T>& a, const Array<T>& b)
{
    if (a.size() != b.size()) return false;
    for (Uint32 i = 0; i < a.size(); i++)
        if (!same(a[i], b[i])) return false;
    return true;
}
bool same(const std::monostate&, const std::monostate&)
{
    return true;
}

template <class T>
Uint32 sizeOf(const T&)
{
    return 0;
}
template <class T>
Uint32 sizeOf(const Array<T>& x)
{
    return x.size();
}
}  // namespace

CIMValue::CIMValue() : _rep(new CIMValueRep) {}

CIMValue::CIMValue(CIMType type, Boolean isArray, Uint32 arraySize) : _rep(new CIMValueRep)
{
    // Checked before the representation is kept, so a bad type leaks nothing.
    if (Uint32(type) > Uint32(CIMTYPE_INSTANCE)) {
        delete _rep;
        throw TypeMismatchException("unknown CIM type");
    }
    setNullValue(type, isArray, arraySize);
}

CIMValue::CIMValue(const CIMValue& x) : _rep(new CIMValueRep(*x._rep)) {}

CIMValue::~CIMValue()
{
    delete _rep;
}

CIMValue& CIMValue::operator=(const CIMValue& x)
{
    if (this != &x) *_rep = *x._rep;
    return *this;
}

void CIMValue::assign(const CIMValue& x)
{
    *this = x;
}

void CIMValue::clear()
{
    *_rep = CIMValueRep();
}

Boolean CIMValue::typeCompatible(const CIMValue& x) const
{
    return _rep->type == x._rep->type && _rep->isArray == x._rep->isArray;
}

Boolean CIMValue::isArray() const
{
    return _rep->isArray;
}
Boolean CIMValue::isNull() const
{
    return std::holds_alternative<std::monostate>(_rep->data);
}
CIMType CIMValue::getType() const
{
    return _rep->type;
}

Uint32 CIMValue::getArraySize() const
{
    if (!_rep->isArray || isNull()) return 0;
    return std::visit([](const auto& v) -> Uint32 { return sizeOf(v); }, _rep->data);
}

void CIMValue::setNullValue(CIMType type, Boolean isArray, Uint32)
{
    if (Uint32(type) > Uint32(CIMTYPE_INSTANCE)) throw TypeMismatchException("unknown CIM type");
    _rep->data = std::monostate();
    _rep->type = type;
    _rep->isArray = isArray;
}

#define PEGASUS_VALUE_SCALAR(T, ARG)                       \
    CIMValue::CIMValue(ARG x) : _rep(nullptr)              \
    {                                                      \
        std::unique_ptr<CIMValueRep> rep(new CIMValueRep); \
        initScalar<T>(*rep, x);                            \
        _rep = rep.release();                              \
    }                                                      \
    void CIMValue::set(ARG x)                              \
    {                                                      \
        setScalar<T>(*_rep, x);                            \
    }                                                      \
    void CIMValue::get(T& x) const                         \
    {                                                      \
        getScalar<T>(*_rep, x);                            \
    }                                                      \
    CIMValue::CIMValue(const Array<T>& x) : _rep(nullptr)  \
    {                                                      \
        std::unique_ptr<CIMValueRep> rep(new CIMValueRep); \
        initArray<T>(*rep, x);                             \
        _rep = rep.release();                              \
    }                                                      \
    void CIMValue::set(const Array<T>& x)                  \
    {                                                      \
        setArray<T>(*_rep, x);                             \
    }                                                      \
    void CIMValue::get(Array<T>& x) const                  \
    {                                                      \
        getArray<T>(*_rep, x);                             \
    }

PEGASUS_VALUE_SCALAR(Boolean, Boolean)
PEGASUS_VALUE_SCALAR(Uint8, Uint8)
PEGASUS_VALUE_SCALAR(Sint8, Sint8)
PEGASUS_VALUE_SCALAR(Uint16, Uint16)
PEGASUS_VALUE_SCALAR(Sint16, Sint16)
PEGASUS_VALUE_SCALAR(Uint32, Uint32)
PEGASUS_VALUE_SCALAR(Sint32, Sint32)
PEGASUS_VALUE_SCALAR(Uint64, Uint64)
PEGASUS_VALUE_SCALAR(Sint64, Sint64)
PEGASUS_VALUE_SCALAR(Real32, Real32)
PEGASUS_VALUE_SCALAR(Real64, Real64)
PEGASUS_VALUE_SCALAR(Char16, const Char16&)
PEGASUS_VALUE_SCALAR(String, const String&)
PEGASUS_VALUE_SCALAR(CIMDateTime, const CIMDateTime&)
PEGASUS_VALUE_SCALAR(CIMObjectPath, const CIMObjectPath&)
PEGASUS_VALUE_SCALAR(CIMObject, const CIMObject&)
PEGASUS_VALUE_SCALAR(CIMInstance, const CIMInstance&)
#undef PEGASUS_VALUE_SCALAR

Boolean CIMValue::equal(const CIMValue& x) const
{
    if (!typeCompatible(x) || isNull() != x.isNull()) return false;
    if (_rep->data.index() != x._rep->data.index()) return false;
    return std::visit(
        [&](const auto& a) -> bool {
            using T = std::decay_t<decltype(a)>;
            return same(a, std::get<T>(x._rep->data));
        },
        _rep->data);
}

String CIMValue::toString() const
{
    String out;
    std::visit([&](const auto& v) { appendText(out, v); }, _rep->data);
    return out;
}

Boolean operator==(const CIMValue& x, const CIMValue& y)
{
    return x.equal(y);
}

Boolean operator!=(const CIMValue& x, const CIMValue& y)
{
    return !x.equal(y);
}

PEGASUS_NAMESPACE_END
