// The parsed form of a MOF compilation: what the source says, before any
// class is resolved against its superclass or any qualifier against its
// declaration.  The loader turns this into repository objects.
#ifndef MINICIMD_MOF_MOFAST_H
#define MINICIMD_MOF_MOFAST_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace minicimd {
namespace mof {

struct SourcePos {
    std::string file;
    uint32_t line = 0;
    uint32_t column = 0;
    std::string toString() const;
};

// Same order as Pegasus::CIMType so the loader converts by cast.
enum class DataType {
    Boolean,
    Uint8,
    Sint8,
    Uint16,
    Sint16,
    Uint32,
    Sint32,
    Uint64,
    Sint64,
    Real32,
    Real64,
    Char16,
    String,
    Datetime,
    Reference,
    Object,
    Instance
};

const char* dataTypeName(DataType t);
// Case-insensitive; returns false for anything that is not a MOF data type keyword.
bool dataTypeFromName(const std::string& name, DataType& out);

enum class LiteralKind { Null, Boolean, Integer, Real, String, Char16, AliasRef };

struct Literal {
    LiteralKind kind = LiteralKind::Null;
    bool boolValue = false;
    // Integers keep sign and magnitude separately so the full uint64 and sint64
    // ranges both fit; range checks against the target type happen in the loader.
    bool negative = false;
    uint64_t magnitude = 0;
    double realValue = 0.0;
    std::string text;  // String (UTF-8), AliasRef (name without '$')
    uint16_t char16 = 0;
    SourcePos pos;
};

struct Value {
    bool isArray = false;        // written as { ... }
    std::vector<Literal> items;  // one item for a scalar
    SourcePos pos;
    bool isNullScalar() const { return !isArray && items.size() == 1 && items[0].kind == LiteralKind::Null; }
};

// Flavors as written: unset means "take the declaration's / inherited one".
struct Flavors {
    std::optional<bool> overridable;  // EnableOverride / DisableOverride
    std::optional<bool> toSubclass;   // ToSubclass / Restricted
    bool translatable = false;
    bool any() const { return overridable || toSubclass || translatable; }
};

enum ScopeBits : uint32_t {
    ScopeClass = 1u << 0,
    ScopeAssociation = 1u << 1,
    ScopeIndication = 1u << 2,
    ScopeProperty = 1u << 3,
    ScopeReference = 1u << 4,
    ScopeMethod = 1u << 5,
    ScopeParameter = 1u << 6,
    ScopeAny = ScopeClass | ScopeAssociation | ScopeIndication | ScopeProperty | ScopeReference |
               ScopeMethod | ScopeParameter,
};

struct QualifierUse {
    std::string name;
    std::optional<Value> value;  // absent: "Name" alone, which means true for a boolean
    Flavors flavors;
    SourcePos pos;
};

struct QualifierDecl {
    std::string name;
    DataType type = DataType::Boolean;
    bool isArray = false;
    uint32_t arraySize = 0;
    std::optional<Value> defaultValue;
    uint32_t scopes = 0;
    Flavors flavors;
    std::string nameSpace;
    SourcePos pos;
};

struct PropertyDecl {
    std::vector<QualifierUse> qualifiers;
    DataType type = DataType::String;
    std::string refClass;  // for references
    std::string name;
    bool isArray = false;
    uint32_t arraySize = 0;  // 0 for a variable-length array
    std::optional<Value> defaultValue;
    SourcePos pos;
};

struct ParameterDecl {
    std::vector<QualifierUse> qualifiers;
    DataType type = DataType::String;
    std::string refClass;
    std::string name;
    bool isArray = false;
    uint32_t arraySize = 0;
    SourcePos pos;
};

struct MethodDecl {
    std::vector<QualifierUse> qualifiers;
    DataType returnType = DataType::Uint32;
    std::string name;
    std::vector<ParameterDecl> parameters;
    SourcePos pos;
};

struct ClassDecl {
    std::vector<QualifierUse> qualifiers;
    std::string name;
    std::string superClass;
    std::vector<PropertyDecl> properties;  // references included
    std::vector<MethodDecl> methods;
    std::string nameSpace;
    SourcePos pos;
};

struct PropertyInit {
    std::vector<QualifierUse> qualifiers;
    std::string name;
    Value value;
    SourcePos pos;
};

struct InstanceDecl {
    std::vector<QualifierUse> qualifiers;
    std::string className;
    std::string alias;  // without '$', empty if none
    std::vector<PropertyInit> properties;
    std::string nameSpace;
    SourcePos pos;
};

// One top-level production, in source order (include files expanded in place).
struct Production {
    enum Kind { Qualifier, Class, Instance } kind;
    size_t index;  // into the matching vector of Compilation
};

struct Compilation {
    std::vector<QualifierDecl> qualifiers;
    std::vector<ClassDecl> classes;
    std::vector<InstanceDecl> instances;
    std::vector<Production> order;
    std::vector<std::string> warnings;
    std::vector<std::string> files;  // every file read, in order
};

}  // namespace mof
}  // namespace minicimd

#endif
