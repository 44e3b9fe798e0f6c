#include <Pegasus/Common/CIMFlavor.h>

PEGASUS_NAMESPACE_BEGIN

namespace {
const Uint32 kNone = 0, kOverridable = 1, kToSubclass = 2, kToInstance = 4, kTranslatable = 8,
             kDisableOverride = 16, kRestricted = 32;
}

const CIMFlavor CIMFlavor::NONE(kNone);
const CIMFlavor CIMFlavor::OVERRIDABLE(kOverridable);
const CIMFlavor CIMFlavor::ENABLEOVERRIDE(kOverridable);
const CIMFlavor CIMFlavor::DISABLEOVERRIDE(kDisableOverride);
const CIMFlavor CIMFlavor::TOSUBCLASS(kToSubclass);
const CIMFlavor CIMFlavor::RESTRICTED(kRestricted);
const CIMFlavor CIMFlavor::TOINSTANCE(kToInstance);
const CIMFlavor CIMFlavor::TRANSLATABLE(kTranslatable);
const CIMFlavor CIMFlavor::DEFAULTS(kOverridable | kToSubclass);

CIMFlavor::CIMFlavor() : cimFlavor(kNone) {}
CIMFlavor::CIMFlavor(Uint32 flavor) : cimFlavor(flavor) {}
CIMFlavor::CIMFlavor(const CIMFlavor& flavor) : cimFlavor(flavor.cimFlavor) {}

CIMFlavor& CIMFlavor::operator=(const CIMFlavor& flavor)
{
    cimFlavor = flavor.cimFlavor;
    return *this;
}

void CIMFlavor::addFlavor(const CIMFlavor& flavor)
{
    cimFlavor |= flavor.cimFlavor;
    // Overridable and DisableOverride, ToSubclass and Restricted exclude each other.
    if (flavor.cimFlavor & kDisableOverride) cimFlavor &= ~kOverridable;
    if (flavor.cimFlavor & kOverridable) cimFlavor &= ~kDisableOverride;
    if (flavor.cimFlavor & kRestricted) cimFlavor &= ~kToSubclass;
    if (flavor.cimFlavor & kToSubclass) cimFlavor &= ~kRestricted;
}

void CIMFlavor::removeFlavor(const CIMFlavor& flavor)
{
    cimFlavor &= ~flavor.cimFlavor;
}

Boolean CIMFlavor::hasFlavor(const CIMFlavor& flavor) const
{
    return (cimFlavor & flavor.cimFlavor) == flavor.cimFlavor;
}

Boolean CIMFlavor::equal(const CIMFlavor& flavor) const
{
    return cimFlavor == flavor.cimFlavor;
}

CIMFlavor CIMFlavor::operator+(const CIMFlavor& flavor) const
{
    CIMFlavor result(*this);
    result.addFlavor(flavor);
    return result;
}

void CIMFlavor::clear()
{
    cimFlavor = kNone;
}

String CIMFlavor::toString() const
{
    String s;
    auto add = [&s](const char* word) {
        if (s.size()) s.append(Char16(' '));
        s.append(String(word));
    };
    if (cimFlavor & kOverridable) add("OVERRIDABLE");
    if (cimFlavor & kToSubclass) add("TOSUBCLASS");
    if (cimFlavor & kToInstance) add("TOINSTANCE");
    if (cimFlavor & kTranslatable) add("TRANSLATABLE");
    if (cimFlavor & kDisableOverride) add("DISABLEOVERRIDE");
    if (cimFlavor & kRestricted) add("RESTRICTED");
    return s;
}

PEGASUS_NAMESPACE_END
