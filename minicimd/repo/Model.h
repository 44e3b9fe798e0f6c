// The server's own CIM object model.  It is deliberately independent of the
// client library: a server that shared the client's object model and codec
// would hide the bugs the end-to-end tests are there to find.
//
// Values are kept as their canonical CIM-XML text ("TRUE", "4294967295",
// "1.5000000000000000e+00"), which is what the wire needs; every value is
// checked against its type on the way in.
#ifndef MINICIMD_REPO_MODEL_H
#define MINICIMD_REPO_MODEL_H

#include "mof/MofAst.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace minicimd {

using mof::DataType;

enum CimStatus {
    kCimFailed = 1, kCimAccessDenied = 2, kCimInvalidNamespace = 3, kCimInvalidParameter = 4,
    kCimInvalidClass = 5, kCimNotFound = 6, kCimNotSupported = 7, kCimClassHasChildren = 8,
    kCimClassHasInstances = 9, kCimInvalidSuperclass = 10, kCimAlreadyExists = 11,
    kCimNoSuchProperty = 12, kCimTypeMismatch = 13, kCimMethodNotAvailable = 16,
    kCimMethodNotFound = 17, kCimServerLimitsExceeded = 27
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

struct ObjectPath;

struct KeyBinding {
    enum Kind { String, Boolean, Numeric, Reference };
    std::string name;
    Kind kind = String;
    std::string value;                 // text for String/Boolean/Numeric
    std::shared_ptr<ObjectPath> ref;   // for Reference
};

struct ObjectPath {
    std::string host;
    std::string nameSpace;  // empty: local to the namespace of the request
    std::string className;
    std::vector<KeyBinding> keys;

    // "root/test:Test_Base.Name=\"x\"" (namespace only when set), keys sorted.
    std::string toString() const;
    // Reads the text form above; throws CimError(INVALID_PARAMETER).
    static ObjectPath parse(const std::string& text);
};

struct Element {
    std::string text;                  // canonical text of a non-reference value
    std::shared_ptr<ObjectPath> ref;   // a reference value
};

struct Value {
    DataType type = DataType::String;
    bool isArray = false;
    bool null = true;
    std::vector<Element> items;

    static Value nullOf(DataType t, bool array) {
        Value v;
        v.type = t;
        v.isArray = array;
        return v;
    }
    bool operator==(const Value& o) const;
};

// Checks `text` as a value of type `t` and returns its canonical form; throws
// CimError(TYPE_MISMATCH) with a message naming what is wrong.
std::string canonicalScalar(DataType t, const std::string& text);
bool isValidDateTime(const std::string& text);
std::string formatReal(DataType t, double v);

struct Flavor {
    bool overridable = true;
    bool toSubclass = true;
    bool translatable = false;
};

struct Qualifier {
    std::string name;
    Value value;
    Flavor flavor;
    bool propagated = false;
};

struct QualifierType {
    std::string name;
    DataType type = DataType::Boolean;
    bool isArray = false;
    uint32_t arraySize = 0;
    Value defaultValue;
    uint32_t scopes = 0;
    Flavor flavor;
};

struct Property {
    std::string name;
    Value value;            // type and default
    uint32_t arraySize = 0;
    std::string refClass;
    std::string classOrigin;
    bool propagated = false;
    std::vector<Qualifier> qualifiers;
};

struct Parameter {
    std::string name;
    DataType type = DataType::String;
    bool isArray = false;
    uint32_t arraySize = 0;
    std::string refClass;
    std::vector<Qualifier> qualifiers;
};

struct Method {
    std::string name;
    DataType returnType = DataType::Uint32;
    std::string classOrigin;
    bool propagated = false;
    std::vector<Qualifier> qualifiers;
    std::vector<Parameter> parameters;
};

const Qualifier* findQualifier(const std::vector<Qualifier>& qs, const std::string& name);
bool qualifierIsTrue(const std::vector<Qualifier>& qs, const std::string& name);

struct Class {
    std::string name;
    std::string superClass;
    std::vector<Qualifier> qualifiers;
    std::vector<Property> properties;  // inherited ones included, marked propagated
    std::vector<Method> methods;
    std::vector<std::string> keyNames;

    const Property* findProperty(const std::string& n) const;
    const Method* findMethod(const std::string& n) const;
    bool isAbstract() const { return qualifierIsTrue(qualifiers, "Abstract"); }
};

// An instance holds one value per property of its class, in class order.
struct Instance {
    std::string className;
    std::vector<Property> properties;  // copies of the class's, values set
    const Property* findProperty(const std::string& n) const;
    Property* findProperty(const std::string& n);
};

}  // namespace minicimd

#endif
