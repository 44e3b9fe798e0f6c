// CIM names and namespace names: legality and case-insensitive comparison.
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/Exception.h>

PEGASUS_NAMESPACE_BEGIN

namespace {
inline bool isAlphaUnder(Uint16 c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

inline bool isAlNumUnder(Uint16 c)
{
    return isAlphaUnder(c) || (c >= '0' && c <= '9');
}

// Characters from U+0080 to U+FFEF are allowed anywhere in a name (DSP0004).
inline bool isWideNameChar(Uint16 c)
{
    return c >= 0x0080 && c <= 0xFFEF;
}

// Whether name[begin, end) is one legal CIM name.
bool legalElement(const Char16* name, Uint32 begin, Uint32 end)
{
    if (begin >= end) return false;
    const Uint16 first = name[begin];
    if (!isAlphaUnder(first) && !isWideNameChar(first)) return false;
    for (Uint32 i = begin + 1; i < end; i++) {
        const Uint16 c = name[i];
        if (!isAlNumUnder(c) && !isWideNameChar(c)) return false;
    }
    return true;
}
}  // namespace

// ---------------------------------------------------------------------------
// CIMName

CIMName::CIMName() {}

CIMName::CIMName(const CIMName& name) : cimName(name.cimName) {}

CIMName::CIMName(const String& name) : cimName(name)
{
    if (!legal(name)) throw InvalidNameException(name);
}

CIMName::CIMName(const char* name) : cimName(name)
{
    if (!legal(cimName)) throw InvalidNameException(cimName);
}

CIMName& CIMName::operator=(const CIMName& name)
{
    cimName = name.cimName;
    return *this;
}

CIMName& CIMName::operator=(const String& name)
{
    if (!legal(name)) throw InvalidNameException(name);
    cimName = name;
    return *this;
}

CIMName& CIMName::operator=(const char* name)
{
    return *this = String(name);
}

const String& CIMName::getString() const
{
    return cimName;
}

Boolean CIMName::isNull() const
{
    return cimName.size() == 0;
}

void CIMName::clear()
{
    cimName.clear();
}

Boolean CIMName::equal(const CIMName& name) const
{
    return String::equalNoCase(cimName, name.cimName);
}

Boolean CIMName::equal(const char* name) const
{
    return String::equalNoCase(cimName, String(name));
}

Boolean CIMName::legal(const String& name)
{
    return legalElement(name.getChar16Data(), 0, name.size());
}

Boolean operator==(const CIMName& name1, const CIMName& name2)
{
    return name1.equal(name2);
}
Boolean operator==(const CIMName& name1, const char* name2)
{
    return name1.equal(name2);
}
Boolean operator==(const char* name1, const CIMName& name2)
{
    return name2.equal(name1);
}
Boolean operator!=(const CIMName& name1, const CIMName& name2)
{
    return !name1.equal(name2);
}
Boolean operator!=(const CIMName& name1, const char* name2)
{
    return !name1.equal(name2);
}
Boolean operator!=(const char* name1, const CIMName& name2)
{
    return !name2.equal(name1);
}

// ---------------------------------------------------------------------------
// CIMNamespaceName

namespace {
// Checks the name and drops one leading '/', which DSP0004 leaves ambiguous.
void checkNamespaceName(String& name)
{
    if (!CIMNamespaceName::legal(name)) throw InvalidNamespaceNameException(name);
    if (name[0] == '/') name.remove(0, 1);
}
}  // namespace

CIMNamespaceName::CIMNamespaceName() {}

CIMNamespaceName::CIMNamespaceName(const CIMNamespaceName& name) : cimNamespaceName(name.cimNamespaceName) {}

CIMNamespaceName::CIMNamespaceName(const String& name) : cimNamespaceName(name)
{
    checkNamespaceName(cimNamespaceName);
}

CIMNamespaceName::CIMNamespaceName(const char* name) : cimNamespaceName(name)
{
    checkNamespaceName(cimNamespaceName);
}

CIMNamespaceName& CIMNamespaceName::operator=(const CIMNamespaceName& name)
{
    cimNamespaceName = name.cimNamespaceName;
    return *this;
}

CIMNamespaceName& CIMNamespaceName::operator=(const String& name)
{
    String checked(name);
    checkNamespaceName(checked);
    cimNamespaceName = checked;
    return *this;
}

CIMNamespaceName& CIMNamespaceName::operator=(const char* name)
{
    return *this = String(name);
}

const String& CIMNamespaceName::getString() const
{
    return cimNamespaceName;
}

Boolean CIMNamespaceName::isNull() const
{
    return cimNamespaceName.size() == 0;
}

void CIMNamespaceName::clear()
{
    cimNamespaceName.clear();
}

Boolean CIMNamespaceName::equal(const CIMNamespaceName& name) const
{
    return String::equalNoCase(cimNamespaceName, name.cimNamespaceName);
}

Boolean CIMNamespaceName::equal(const char* name) const
{
    return String::equalNoCase(cimNamespaceName, String(name));
}

Boolean CIMNamespaceName::legal(const String& name)
{
    const Char16* p = name.getChar16Data();
    const Uint32 n = name.size();
    Uint32 begin = (n > 0 && p[0] == '/') ? 1 : 0;
    // Every '/'-separated element must be a legal name: no empty element, so
    // no trailing or doubled '/'.
    for (;;) {
        Uint32 end = begin;
        while (end < n && p[end] != '/') end++;
        if (!legalElement(p, begin, end)) return false;
        if (end == n) return true;
        begin = end + 1;
    }
}

Boolean operator==(const CIMNamespaceName& name1, const CIMNamespaceName& name2)
{
    return name1.equal(name2);
}
Boolean operator==(const CIMNamespaceName& name1, const char* name2)
{
    return name1.equal(name2);
}
Boolean operator==(const char* name1, const CIMNamespaceName& name2)
{
    return name2.equal(name1);
}
Boolean operator!=(const CIMNamespaceName& name1, const CIMNamespaceName& name2)
{
    return !name1.equal(name2);
}
Boolean operator!=(const CIMNamespaceName& name1, const char* name2)
{
    return !name1.equal(name2);
}
Boolean operator!=(const char* name1, const CIMNamespaceName& name2)
{
    return !name2.equal(name1);
}

PEGASUS_NAMESPACE_END
