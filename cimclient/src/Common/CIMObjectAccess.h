// Ways in for the library's own readers, past the copies and checks the
// public classes make on every call.
#ifndef ORV_COMMON_CIMOBJECTACCESS_H
#define ORV_COMMON_CIMOBJECTACCESS_H

#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMClass.h>

PEGASUS_NAMESPACE_BEGIN

struct CIMObjectAccess {
    // Makes `path` the instance name of `className` with `keys`, which are
    // moved in rather than copied (a large answer holds thousands of names).
    // They are sorted and their references rewritten, as set() does, only
    // where they need it.
    static void setInstanceName(CIMObjectPath& path, const CIMName& className, Array<CIMKeyBinding>&& keys);

    // A property holding a null value of `type`, checked as the public
    // constructor checks it.  A reader fills the value in place through
    // valueOf(), so that no value is made apart and copied in (an instance of
    // a hundred properties would pay for a hundred such copies).
    static CIMProperty makeProperty(const CIMName& name, CIMType type, Boolean isArray, Uint32 arraySize,
                                    const CIMName& referenceClassName, const CIMName& classOrigin,
                                    Boolean propagated);
    // Room for `count` more properties, which a reader is about to add.
    static void reserveProperties(CIMInstance& owner, Uint32 count);
    static void reserveProperties(CIMClass& owner, Uint32 count);
    // The value `p` holds.  Whoever sets it keeps the type it was made with,
    // as setValue() would insist.
    static CIMValue& valueOf(CIMProperty& p);
};

PEGASUS_NAMESPACE_END

#endif
