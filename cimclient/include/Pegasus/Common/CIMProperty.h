// A property of a class or instance.  Copies share one property (so a property
// taken from an instance changes that instance); clone() makes an independent one.
#ifndef Pegasus_Property_h
#define Pegasus_Property_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

struct CIMPropertyRep;
class CIMConstProperty;

class PEGASUS_COMMON_LINKAGE CIMProperty {
public:
    CIMProperty();
    CIMProperty(const CIMProperty& x);
    CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize = 0,
                const CIMName& referenceClassName = CIMName(), const CIMName& classOrigin = CIMName(),
                Boolean propagated = false);
    ~CIMProperty();
    CIMProperty& operator=(const CIMProperty& x);

    const CIMName& getName() const;
    void setName(const CIMName& name);
    const CIMValue& getValue() const;
    CIMType getType() const;
    Boolean isArray() const;
    // TypeMismatchException when the type or array form differs from the property's.
    void setValue(const CIMValue& value);
    Uint32 getArraySize() const;
    const CIMName& getReferenceClassName() const;
    const CIMName& getClassOrigin() const;
    void setClassOrigin(const CIMName& classOrigin);
    Boolean getPropagated() const;
    void setPropagated(Boolean propagated);

    CIMProperty& addQualifier(const CIMQualifier& x);  // AlreadyExistsException on a duplicate name
    Uint32 findQualifier(const CIMName& name) const;
    CIMQualifier getQualifier(Uint32 index);
    CIMConstQualifier getQualifier(Uint32 index) const;
    void removeQualifier(Uint32 index);
    Uint32 getQualifierCount() const;

    Boolean isUninitialized() const;
    Boolean identical(const CIMConstProperty& x) const;
    CIMProperty clone() const;

private:
    std::shared_ptr<CIMPropertyRep> _rep;
    friend class CIMConstProperty;
    friend struct CIMObjectAccess;
};

class PEGASUS_COMMON_LINKAGE CIMConstProperty {
public:
    CIMConstProperty();
    CIMConstProperty(const CIMConstProperty& x);
    CIMConstProperty(const CIMProperty& x);
    CIMConstProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize = 0,
                     const CIMName& referenceClassName = CIMName(), const CIMName& classOrigin = CIMName(),
                     Boolean propagated = false);
    ~CIMConstProperty();
    CIMConstProperty& operator=(const CIMConstProperty& x);
    CIMConstProperty& operator=(const CIMProperty& x);

    const CIMName& getName() const;
    const CIMValue& getValue() const;
    CIMType getType() const;
    Boolean isArray() const;
    Uint32 getArraySize() const;
    const CIMName& getReferenceClassName() const;
    const CIMName& getClassOrigin() const;
    Boolean getPropagated() const;

    Uint32 findQualifier(const CIMName& name) const;
    CIMConstQualifier getQualifier(Uint32 index) const;
    Uint32 getQualifierCount() const;

    Boolean isUninitialized() const;
    Boolean identical(const CIMConstProperty& x) const;
    CIMProperty clone() const;

private:
    std::shared_ptr<CIMPropertyRep> _rep;
    friend class CIMProperty;
    friend struct CIMObjectAccess;
};

PEGASUS_NAMESPACE_END

#endif
