// An instance: class name, path, qualifiers, properties.  Copies share one
// instance; clone() makes an independent one.  Using a default-constructed
// instance throws UninitializedObjectException.
#ifndef Pegasus_Instance_h
#define Pegasus_Instance_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMInstance {
public:
    CIMInstance();
    CIMInstance(const CIMInstance& x);
    explicit CIMInstance(const CIMObject& x);  // DynamicCastFailedException for a class
    CIMInstance(const CIMName& className);
    ~CIMInstance();
    CIMInstance& operator=(const CIMInstance& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    void setPath(const CIMObjectPath& path);

    CIMInstance& addQualifier(const CIMQualifier& qualifier);
    Uint32 findQualifier(const CIMName& name) const;
    CIMQualifier getQualifier(Uint32 index);
    CIMConstQualifier getQualifier(Uint32 index) const;
    void removeQualifier(Uint32 index);
    Uint32 getQualifierCount() const;

    CIMInstance& addProperty(const CIMProperty& x);  // AlreadyExistsException on a duplicate name
    Uint32 findProperty(const CIMName& name) const;
    CIMProperty getProperty(Uint32 index);
    CIMConstProperty getProperty(Uint32 index) const;
    void removeProperty(Uint32 index);
    Uint32 getPropertyCount() const;

    Boolean isUninitialized() const;
    Boolean identical(const CIMConstInstance& x) const;
    CIMInstance clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMObject;
    friend class CIMConstObject;
    friend class CIMConstInstance;
    friend struct CIMObjectAccess;
};

class PEGASUS_COMMON_LINKAGE CIMConstInstance {
public:
    CIMConstInstance();
    CIMConstInstance(const CIMConstInstance& x);
    CIMConstInstance(const CIMInstance& x);
    explicit CIMConstInstance(const CIMObject& x);
    explicit CIMConstInstance(const CIMConstObject& x);
    CIMConstInstance(const CIMName& className);
    ~CIMConstInstance();
    CIMConstInstance& operator=(const CIMConstInstance& x);
    CIMConstInstance& operator=(const CIMInstance& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    Uint32 findQualifier(const CIMName& name) const;
    CIMConstQualifier getQualifier(Uint32 index) const;
    Uint32 getQualifierCount() const;
    Uint32 findProperty(const CIMName& name) const;
    CIMConstProperty getProperty(Uint32 index) const;
    Uint32 getPropertyCount() const;
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstInstance& x) const;
    CIMInstance clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMInstance;
    friend class CIMObject;
    friend class CIMConstObject;
    friend struct CIMObjectAccess;
};

PEGASUS_NAMESPACE_END

#endif
