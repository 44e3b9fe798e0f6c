// A qualifier: a named, typed value with a flavor.  Copies share one qualifier;
// clone() makes an independent one.
#ifndef Pegasus_Qualifier_h
#define Pegasus_Qualifier_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMFlavor.h>
#include <Pegasus/Common/CIMValue.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

struct CIMQualifierRep;
class CIMConstQualifier;

class PEGASUS_COMMON_LINKAGE CIMQualifier {
public:
    CIMQualifier();
    CIMQualifier(const CIMQualifier& x);
    CIMQualifier(const CIMName& name, const CIMValue& value,
                 const CIMFlavor& flavor = CIMFlavor(CIMFlavor::NONE), Boolean propagated = false);
    ~CIMQualifier();
    CIMQualifier& operator=(const CIMQualifier& x);

    const CIMName& getName() const;
    void setName(const CIMName& name);
    CIMType getType() const;
    Boolean isArray() const;
    const CIMValue& getValue() const;
    void setValue(const CIMValue& value);
    void setFlavor(const CIMFlavor& flavor);
    void unsetFlavor(const CIMFlavor& flavor);
    const CIMFlavor& getFlavor() const;
    Boolean getPropagated() const;
    void setPropagated(Boolean propagated);
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstQualifier& x) const;
    CIMQualifier clone() const;

private:
    std::shared_ptr<CIMQualifierRep> _rep;
    friend class CIMConstQualifier;
    friend struct CIMObjectAccess;
};

class PEGASUS_COMMON_LINKAGE CIMConstQualifier {
public:
    CIMConstQualifier();
    CIMConstQualifier(const CIMConstQualifier& x);
    CIMConstQualifier(const CIMQualifier& x);
    CIMConstQualifier(const CIMName& name, const CIMValue& value,
                      const CIMFlavor& flavor = CIMFlavor(CIMFlavor::NONE), Boolean propagated = false);
    ~CIMConstQualifier();
    CIMConstQualifier& operator=(const CIMConstQualifier& x);
    CIMConstQualifier& operator=(const CIMQualifier& x);

    const CIMName& getName() const;
    CIMType getType() const;
    Boolean isArray() const;
    const CIMValue& getValue() const;
    const CIMFlavor& getFlavor() const;
    Boolean getPropagated() const;
    Boolean isUninitialized() const;
    Boolean identical(const CIMConstQualifier& x) const;
    CIMQualifier clone() const;

private:
    std::shared_ptr<CIMQualifierRep> _rep;
    friend class CIMQualifier;
    friend struct CIMObjectAccess;
};

PEGASUS_NAMESPACE_END

#endif
