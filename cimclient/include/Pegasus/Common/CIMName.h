// Names of classes, properties, methods, qualifiers (CIMName) and namespaces.
#ifndef Pegasus_Name_h
#define Pegasus_Name_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Array.h>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMName {
public:
    CIMName();
    CIMName(const CIMName& name);
    CIMName(CIMName&& name) noexcept = default;
    CIMName(const String& name);  // InvalidNameException unless legal(name)
    CIMName(const char* name);    // likewise
    CIMName& operator=(const CIMName& name);
    CIMName& operator=(CIMName&& name) noexcept = default;
    CIMName& operator=(const String& name);
    CIMName& operator=(const char* name);

    const String& getString() const;
    Boolean isNull() const;
    void clear();
    // Names compare without regard to ASCII case.
    Boolean equal(const CIMName& name) const;
    Boolean equal(const char* name) const;

    // A letter or underscore (or a character from U+0080 to U+FFEF), then letters,
    // digits, underscores (or such characters).
    static Boolean legal(const String& name);

private:
    String cimName;
};

PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMName& name1, const CIMName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMName& name1, const char* name2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const char* name1, const CIMName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMName& name1, const CIMName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMName& name1, const char* name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const char* name1, const CIMName& name2);

class PEGASUS_COMMON_LINKAGE CIMNamespaceName {
public:
    CIMNamespaceName();
    CIMNamespaceName(const CIMNamespaceName& name);
    CIMNamespaceName(CIMNamespaceName&& name) noexcept = default;
    CIMNamespaceName(const String& name);  // InvalidNamespaceNameException unless legal
    CIMNamespaceName(const char* name);    // likewise
    CIMNamespaceName& operator=(const CIMNamespaceName& name);
    CIMNamespaceName& operator=(CIMNamespaceName&& name) noexcept = default;
    CIMNamespaceName& operator=(const String& name);
    CIMNamespaceName& operator=(const char* name);

    const String& getString() const;
    Boolean isNull() const;
    void clear();
    Boolean equal(const CIMNamespaceName& name) const;
    Boolean equal(const char* name) const;

    // One or more legal CIM names separated by '/' (a single leading '/' is allowed
    // and dropped when a name is set).
    static Boolean legal(const String& name);

private:
    String cimNamespaceName;
};

PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMNamespaceName& name1, const CIMNamespaceName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMNamespaceName& name1, const char* name2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const char* name1, const CIMNamespaceName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMNamespaceName& name1, const CIMNamespaceName& name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMNamespaceName& name1, const char* name2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const char* name1, const CIMNamespaceName& name2);

PEGASUS_NAMESPACE_END

#endif
