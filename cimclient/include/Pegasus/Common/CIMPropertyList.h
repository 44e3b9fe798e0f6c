// Which properties an operation returns: null means all, an empty list none.
#ifndef Pegasus_PropertyList_h
#define Pegasus_PropertyList_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/Array.h>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMPropertyList {
public:
    CIMPropertyList();
    CIMPropertyList(const CIMPropertyList& x);
    CIMPropertyList(const Array<CIMName>& propertyNames);
    ~CIMPropertyList();
    CIMPropertyList& operator=(const CIMPropertyList& x);

    void set(const Array<CIMName>& propertyNames);
    void clear();  // back to null
    Boolean isNull() const;
    Uint32 size() const;
    const CIMName& operator[](Uint32 index) const;
    Array<CIMName> getPropertyNameArray() const;
    // Whether name is selected (always true for a null list).
    Boolean contains(const CIMName& name) const;

private:
    Array<CIMName> _names;
    Boolean _isNull;
};

PEGASUS_NAMESPACE_END

#endif
