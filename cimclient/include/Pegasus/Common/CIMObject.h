// A class or an instance, as an embedded-object value holds one.  Shares its
// content with the CIMClass or CIMInstance it was made from.
#ifndef Pegasus_Object_h
#define Pegasus_Object_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

struct CIMObjectRep;
class CIMClass;
class CIMConstClass;
class CIMInstance;
class CIMConstInstance;
class CIMConstObject;

class PEGASUS_COMMON_LINKAGE CIMObject {
public:
    CIMObject();
    CIMObject(const CIMObject& x);
    CIMObject(const CIMClass& x);
    CIMObject(const CIMInstance& x);
    ~CIMObject();
    CIMObject& operator=(const CIMObject& x);
    CIMObject& operator=(const CIMClass& x);
    CIMObject& operator=(const CIMInstance& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    void setPath(const CIMObjectPath& path);

    CIMObject& addQualifier(const CIMQualifier& qualifier);
    Uint32 findQualifier(const CIMName& name) const;
    CIMQualifier getQualifier(Uint32 index);
    CIMConstQualifier getQualifier(Uint32 index) const;
    void removeQualifier(Uint32 index);
    Uint32 getQualifierCount() const;

    CIMObject& addProperty(const CIMProperty& x);
    Uint32 findProperty(const CIMName& name) const;
    CIMProperty getProperty(Uint32 index);
    CIMConstProperty getProperty(Uint32 index) const;
    void removeProperty(Uint32 index);
    Uint32 getPropertyCount() const;

    Boolean isClass() const;
    Boolean isInstance() const;
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstObject& x) const;
    CIMObject clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMConstObject;
    friend class CIMClass;
    friend class CIMConstClass;
    friend class CIMInstance;
    friend class CIMConstInstance;
    friend struct CIMObjectAccess;
};

class PEGASUS_COMMON_LINKAGE CIMConstObject {
public:
    CIMConstObject();
    CIMConstObject(const CIMConstObject& x);
    CIMConstObject(const CIMObject& x);
    CIMConstObject(const CIMClass& x);
    CIMConstObject(const CIMConstClass& x);
    CIMConstObject(const CIMInstance& x);
    CIMConstObject(const CIMConstInstance& x);
    ~CIMConstObject();
    CIMConstObject& operator=(const CIMConstObject& x);

    const CIMName& getClassName() const;
    const CIMObjectPath& getPath() const;
    Uint32 findQualifier(const CIMName& name) const;
    CIMConstQualifier getQualifier(Uint32 index) const;
    Uint32 getQualifierCount() const;
    Uint32 findProperty(const CIMName& name) const;
    CIMConstProperty getProperty(Uint32 index) const;
    Uint32 getPropertyCount() const;
    Boolean isClass() const;
    Boolean isInstance() const;
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstObject& x) const;
    CIMObject clone() const;

private:
    std::shared_ptr<CIMObjectRep> _rep;
    friend class CIMObject;
    friend class CIMClass;
    friend class CIMConstClass;
    friend class CIMInstance;
    friend class CIMConstInstance;
    friend struct CIMObjectAccess;
};

PEGASUS_NAMESPACE_END

#endif
