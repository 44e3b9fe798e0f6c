// A class: name, superclass, qualifiers, properties, methods.  Copies share one
// class; clone() makes an independent one.
#ifndef Pegasus_CIMClass_h
#define Pegasus_CIMClass_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <Pegasus/Common/CIMMethod.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMClass {
public:
    CIMClass();
    CIMClass(const CIMClass& x);
    explicit CIMClass(const CIMObject& x);  // DynamicCastFailedException for an instance
    CIMClass(const CIMName& className, const CIMName& superClassName = CIMName());
    ~CIMClass();
    CIMClass& operator=(const CIMClass& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    void setPath(const CIMObjectPath& path);
    const CIMName& getSuperClassName() const;
    void setSuperClassName(const CIMName& superClassName);
    // True when the class carries a true Abstract (Association) qualifier.
    Boolean isAbstract() const;
    Boolean isAssociation() const;

    CIMClass& addQualifier(const CIMQualifier& qualifier);
    Uint32 findQualifier(const CIMName& name) const;
    CIMQualifier getQualifier(Uint32 index);
    CIMConstQualifier getQualifier(Uint32 index) const;
    void removeQualifier(Uint32 index);
    Uint32 getQualifierCount() const;

    CIMClass& addProperty(const CIMProperty& x);  // AlreadyExistsException on a duplicate name
    Uint32 findProperty(const CIMName& name) const;
    CIMProperty getProperty(Uint32 index);
    CIMConstProperty getProperty(Uint32 index) const;
    void removeProperty(Uint32 index);
    Uint32 getPropertyCount() const;

    CIMClass& addMethod(const CIMMethod& x);  // AlreadyExistsException on a duplicate name
    Uint32 findMethod(const CIMName& name) const;
    CIMMethod getMethod(Uint32 index);
    CIMConstMethod getMethod(Uint32 index) const;
    void removeMethod(Uint32 index);
    Uint32 getMethodCount() const;

    // Names of the properties that carry a true Key qualifier, in property order.
    void getKeyNames(Array<CIMName>& keyNames) const;
    Boolean hasKeys() const;

    Boolean isUninitialized() const;
    Boolean identical(const CIMConstClass& x) const;
    CIMClass clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMObject;
    friend class CIMConstObject;
    friend class CIMConstClass;
    friend struct CIMObjectAccess;
};

class PEGASUS_COMMON_LINKAGE CIMConstClass {
public:
    CIMConstClass();
    CIMConstClass(const CIMConstClass& x);
    CIMConstClass(const CIMClass& x);
    explicit CIMConstClass(const CIMObject& x);
    explicit CIMConstClass(const CIMConstObject& x);
    CIMConstClass(const CIMName& className, const CIMName& superClassName = CIMName());
    ~CIMConstClass();
    CIMConstClass& operator=(const CIMConstClass& x);
    CIMConstClass& operator=(const CIMClass& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    const CIMName& getSuperClassName() const;
    Boolean isAbstract() const;
    Boolean isAssociation() const;
    Uint32 findQualifier(const CIMName& name) const;
    CIMConstQualifier getQualifier(Uint32 index) const;
    Uint32 getQualifierCount() const;
    Uint32 findProperty(const CIMName& name) const;
    CIMConstProperty getProperty(Uint32 index) const;
    Uint32 getPropertyCount() const;
    Uint32 findMethod(const CIMName& name) const;
    CIMConstMethod getMethod(Uint32 index) const;
    Uint32 getMethodCount() const;
    void getKeyNames(Array<CIMName>& keyNames) const;
    Boolean hasKeys() const;
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstClass& x) const;
    CIMClass clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMClass;
    friend class CIMObject;
    friend class CIMConstObject;
    friend struct CIMObjectAccess;
};

PEGASUS_NAMESPACE_END

#endif
