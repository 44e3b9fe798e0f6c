// The representation behind a CIMValue, and a value that keeps it in the
// object holding the value.
#ifndef ORV_COMMON_CIMVALUEREP_H
#define ORV_COMMON_CIMVALUEREP_H

#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <variant>

PEGASUS_NAMESPACE_BEGIN

struct CIMValueRep {
    typedef std::variant<std::monostate, Boolean, Uint8, Sint8, Uint16, Sint16, Uint32, Sint32, Uint64,
                         Sint64, Real32, Real64, Char16, String, CIMDateTime, CIMObjectPath, CIMObject,
                         CIMInstance, Array<Boolean>, Array<Uint8>, Array<Sint8>, Array<Uint16>,
                         Array<Sint16>, Array<Uint32>, Array<Sint32>, Array<Uint64>, Array<Sint64>,
                         Array<Real32>, Array<Real64>, Array<Char16>, Array<String>, Array<CIMDateTime>,
                         Array<CIMObjectPath>, Array<CIMObject>, Array<CIMInstance>>
        Data;

    CIMType type = CIMTYPE_BOOLEAN;
    Boolean isArray = false;
    Data data;  // monostate when null

    static CIMValueRep& of(CIMValue& v) { return *v._rep; }
    static const CIMValueRep& of(const CIMValue& v) { return *v._rep; }
    // A value over `storage`, which its holder owns and outlives it with.
    static CIMValue over(CIMValueRep& storage) { return CIMValue(&storage); }
    // Leaves the storage to its holder when the value goes.
    static void release(CIMValue& v) { v._rep = nullptr; }
};

// A value whose representation lives in this object rather than in an
// allocation of its own: a property or qualifier holds its value this way,
// one allocation less for each of the hundreds an answer may carry.  It
// copies as a value does (the content, never the storage).
class InPlaceValue {
public:
    InPlaceValue() : _value(CIMValueRep::over(_storage)) {}
    explicit InPlaceValue(const CIMValue& x)
        : _storage(CIMValueRep::of(x)), _value(CIMValueRep::over(_storage))
    {}
    InPlaceValue(const InPlaceValue& x) : _storage(x._storage), _value(CIMValueRep::over(_storage)) {}
    ~InPlaceValue() { CIMValueRep::release(_value); }

    InPlaceValue& operator=(const InPlaceValue& x)
    {
        _storage = x._storage;
        return *this;
    }
    InPlaceValue& operator=(const CIMValue& x)
    {
        _value = x;
        return *this;
    }

    CIMValue& get() { return _value; }
    const CIMValue& get() const { return _value; }
    operator CIMValue&() { return _value; }
    operator const CIMValue&() const { return _value; }

private:
    CIMValueRep _storage;  // made before the value over it, gone after it
    CIMValue _value;
};

PEGASUS_NAMESPACE_END

#endif
