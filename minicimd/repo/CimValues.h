// What the server needs around pegcommon's object model: CIM errors to
// answer with, and values checked against their declared types (canonical
// text first, so the messages name the offending text, then Pegasus values).
#ifndef MINICIMD_REPO_CIMVALUES_H
#define MINICIMD_REPO_CIMVALUES_H

#include "mof/MofAst.h"

#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <Pegasus/Common/CIMValue.h>

#include <stdexcept>
#include <string>

namespace minicimd {

using mof::DataType;

enum CimStatus {
    kCimFailed = 1,
    kCimAccessDenied = 2,
    kCimInvalidNamespace = 3,
    kCimInvalidParameter = 4,
    kCimInvalidClass = 5,
    kCimNotFound = 6,
    kCimNotSupported = 7,
    kCimClassHasChildren = 8,
    kCimClassHasInstances = 9,
    kCimInvalidSuperclass = 10,
    kCimAlreadyExists = 11,
    kCimNoSuchProperty = 12,
    kCimTypeMismatch = 13,
    kCimMethodNotAvailable = 16,
    kCimMethodNotFound = 17,
    kCimServerLimitsExceeded = 27
};
const char* cimStatusName(int code);  // "CIM_ERR_NOT_FOUND"

// A CIM error to report to the client: status code and description.
class CimError : public std::runtime_error {
public:
    CimError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

bool nameEq(const std::string& a, const std::string& b);  // CIM names ignore case
std::string lowerName(const std::string& s);
std::string str(const Pegasus::String& s);  // UTF-8
std::string str(const Pegasus::CIMName& n);

Pegasus::CIMType cimTypeOf(DataType t);
const char* typeNameOf(Pegasus::CIMType t);  // "uint32", "reference", ...

// Checks `text` as a value of type `t` and returns its canonical form; throws
// CimError(TYPE_MISMATCH) with a message naming what is wrong.
std::string canonicalScalar(DataType t, const std::string& text);
bool isValidDateTime(const std::string& text);
std::string formatReal(DataType t, double v);

// A value as a client sent it, made a value of the declared type.  `typed`:
// the sender named the type (PROPERTY TYPE=, PARAMTYPE=), so it must be the
// declared one; untyped values are strings read as the declared type.
// Throws CimError(TYPE_MISMATCH).
Pegasus::CIMValue coerceValue(Pegasus::CIMType type, bool isArray, const Pegasus::CIMValue& in, bool typed,
                              const std::string& what);
// Values built from canonical texts (one for a scalar).
Pegasus::CIMValue valueFromTexts(Pegasus::CIMType type, bool isArray, const std::vector<std::string>& texts,
                                 const std::string& what);

// Canonical text of element `i` of a non-reference value; a reference's path text.
std::string elementText(const Pegasus::CIMValue& v, Pegasus::Uint32 i);
// Values compare by canonical text; references ignore the case of names.
bool sameValue(const Pegasus::CIMValue& a, const Pegasus::CIMValue& b);

// The qualifier `name` of an object with qualifiers is a true boolean.
template <class T>
bool qualifierIsTrue(const T& owner, const char* name)
{
    Pegasus::Uint32 i = owner.findQualifier(Pegasus::CIMName(name));
    if (i == static_cast<Pegasus::Uint32>(-1)) return false;
    const Pegasus::CIMValue& v = owner.getQualifier(i).getValue();
    if (v.isNull() || v.isArray() || v.getType() != Pegasus::CIMTYPE_BOOLEAN) return false;
    Pegasus::Boolean b = false;
    v.get(b);
    return b;
}

// Text of a qualifier's value ("<none>" when absent or null), for messages and tests.
template <class T>
std::string qualifierText(const T& owner, const char* name)
{
    Pegasus::Uint32 i = owner.findQualifier(Pegasus::CIMName(name));
    if (i == static_cast<Pegasus::Uint32>(-1)) return "<none>";
    const Pegasus::CIMValue& v = owner.getQualifier(i).getValue();
    if (v.isNull() || (v.isArray() && v.getArraySize() == 0)) return "<none>";
    return elementText(v, 0);
}

}  // namespace minicimd

#endif
