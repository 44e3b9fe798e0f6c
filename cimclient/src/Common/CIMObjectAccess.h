// Ways in for the library's own readers, past the copies and checks the
// public classes make on every call.
#ifndef ORV_COMMON_CIMOBJECTACCESS_H
#define ORV_COMMON_CIMOBJECTACCESS_H

#include <Pegasus/Common/CIMObjectPath.h>

PEGASUS_NAMESPACE_BEGIN

struct CIMObjectAccess {
    // Makes `path` the instance name of `className` with `keys`, which are
    // moved in rather than copied (a large answer holds thousands of names).
    // They are sorted and their references rewritten, as set() does, only
    // where they need it.
    static void setInstanceName(CIMObjectPath& path, const CIMName& className, Array<CIMKeyBinding>&& keys);
};

PEGASUS_NAMESPACE_END

#endif
