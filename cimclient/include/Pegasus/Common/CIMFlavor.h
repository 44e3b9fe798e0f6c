// Qualifier flavors (DSP0004): how a qualifier propagates and may be overridden.
#ifndef Pegasus_CIMFlavor_h
#define Pegasus_CIMFlavor_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMFlavor {
public:
    CIMFlavor();  // NONE
    CIMFlavor(const CIMFlavor& flavor);
    CIMFlavor& operator=(const CIMFlavor& flavor);

    void addFlavor(const CIMFlavor& flavor);
    void removeFlavor(const CIMFlavor& flavor);
    Boolean hasFlavor(const CIMFlavor& flavor) const;
    Boolean equal(const CIMFlavor& flavor) const;
    CIMFlavor operator+(const CIMFlavor& flavor) const;
    void clear();
    // MOF keywords separated by spaces, e.g. "OVERRIDABLE TOSUBCLASS".
    String toString() const;

    static const CIMFlavor NONE;
    static const CIMFlavor OVERRIDABLE;
    static const CIMFlavor ENABLEOVERRIDE;
    static const CIMFlavor DISABLEOVERRIDE;
    static const CIMFlavor TOSUBCLASS;
    static const CIMFlavor RESTRICTED;
    static const CIMFlavor TOINSTANCE;
    static const CIMFlavor TRANSLATABLE;
    static const CIMFlavor DEFAULTS;  // OVERRIDABLE + TOSUBCLASS

private:
    explicit CIMFlavor(Uint32 flavor);
    Uint32 cimFlavor;
};

PEGASUS_NAMESPACE_END

#endif
