// Instances as the repository keeps them: per instance only what differs
// from its class (the properties given when it was made, in their order, and
// class defaults changed since), each value as the CIM-XML text an answer
// carries.  Answers are written from that form and from pieces of CIM-XML
// made once per class; CIMInstance objects are made only when asked for.
#ifndef MINICIMD_REPO_STOREDINSTANCE_H
#define MINICIMD_REPO_STOREDINSTANCE_H

#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMValue.h>

#include <memory>
#include <string>
#include <vector>

namespace minicimd {

// A value: null, its VALUE text (escaped, as the answer carries it), or, for
// what has no such text (arrays, references, text CIM-XML cannot carry), the
// value itself.
class StoredValue {
public:
    StoredValue() = default;
    explicit StoredValue(const Pegasus::CIMValue& v);

    Pegasus::CIMValue value() const;
    // The value element one element per line, as answers are laid out; nothing for null.
    void writeElement(std::string& out) const;
    // About what it takes in memory beyond the object itself.
    size_t bytes() const { return text_.size() + wholeBytes_; }

private:
    enum class Form : unsigned char { Null, Text, Whole };
    Pegasus::CIMType type_ = Pegasus::CIMTYPE_BOOLEAN;
    bool isArray_ = false;
    Form form_ = Form::Null;
    std::string text_;
    std::shared_ptr<const Pegasus::CIMValue> whole_;
    size_t wholeBytes_ = 0;  // of `whole_`, reckoned by its text
};

struct StoredProperty {
    Pegasus::Uint32 index = 0;  // among the class's properties
    bool given = false;         // given when the instance was made; else a changed class default
    StoredValue value;
};

struct StoredInstance {
    // The given properties in given order, then changed class defaults.
    std::vector<StoredProperty> properties;
    Pegasus::CIMObjectPath path;  // keys only, no namespace
    // Its INSTANCENAME as answers carry it; empty when the path cannot be
    // written (the answer then fails as writing it does).
    std::string nameElement;

    const StoredProperty* find(Pegasus::Uint32 index) const;
    // About what it takes in memory, the index entry that finds it included:
    // what the repository's byte budget is charged.
    size_t bytes() const;
    // Sets the value of the class's property `index`.
    void set(Pegasus::Uint32 index, const Pegasus::CIMValue& v);
};

// A property of an instance: the class's declaration without its qualifiers.
Pegasus::CIMProperty instanceProperty(const Pegasus::CIMConstProperty& decl, const Pegasus::CIMValue& value,
                                      bool propagated);

// What a client asked to see of an instance.
struct InstanceView {
    bool includeQualifiers = false;
    bool includeClassOrigin = false;
    const std::vector<std::string>* propertyList = nullptr;  // null: all
};

// The pieces of CIM-XML of a class's instances, made once per class.
class InstanceForms {
public:
    explicit InstanceForms(const Pegasus::CIMConstClass& cls);
    InstanceForms() = default;

    // The instance as OpenPegasus's repository gives it: properties filled
    // from the class first (marked propagated), then the given ones.
    Pegasus::CIMInstance instanceOf(const Pegasus::CIMConstClass& cls, const StoredInstance& s) const;
    // The same as an INSTANCE element, one element per line.  Throws
    // orv::cimxml::EncodeError where writing the instance would.
    void write(const StoredInstance& s, const InstanceView& view, std::string& out) const;

    // The stored form of an instance made by the repository (every class
    // property present; the propagated ones hold their class defaults).
    static StoredInstance storedOf(const Pegasus::CIMConstClass& cls, const Pegasus::CIMConstInstance& inst);

private:
    struct Property {
        std::string name;
        std::string start[2][2];  // [with class origin][propagated]
        std::string qualifiers;
        std::string end;
        std::string error;           // why the property cannot be written, if it cannot
        std::string qualifierError;  // likewise its qualifiers
        StoredValue classDefault;
    };
    std::string start_, end_;
    std::vector<Property> properties_;
};

}  // namespace minicimd

#endif
