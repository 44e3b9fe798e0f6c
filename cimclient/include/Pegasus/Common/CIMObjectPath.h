// Object paths: //host/namespace:Class.key=value,... in the model-path text form.
#ifndef Pegasus_ObjectPath_h
#define Pegasus_ObjectPath_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Array.h>
#include <Pegasus/Common/CIMName.h>

PEGASUS_NAMESPACE_BEGIN

class CIMValue;

class PEGASUS_COMMON_LINKAGE CIMKeyBinding {
public:
    // How the value text is written: STRING and REFERENCE quoted, the others bare.
    enum Type { BOOLEAN, STRING, NUMERIC, REFERENCE };

    CIMKeyBinding();
    CIMKeyBinding(const CIMKeyBinding& x);
    CIMKeyBinding(CIMKeyBinding&& x) noexcept = default;
    CIMKeyBinding(const CIMName& name, const String& value, Type type);
    // The value's text and a type from its CIM type; TypeMismatchException for
    // arrays and embedded objects.
    CIMKeyBinding(const CIMName& name, const CIMValue& value);
    ~CIMKeyBinding();
    CIMKeyBinding& operator=(const CIMKeyBinding& x);
    CIMKeyBinding& operator=(CIMKeyBinding&& x) noexcept = default;

    const CIMName& getName() const;
    void setName(const CIMName& name);
    const String& getValue() const;
    void setValue(const String& value);
    Type getType() const;
    void setType(Type type);
    // Whether this binding holds the given value (typed comparison).
    Boolean equal(CIMValue value);

private:
    CIMName _name;
    String _value;
    Type _type;
};

// Same name (any case), same type, and equal values: numbers by value, booleans
// without case, references as paths, strings exactly.
PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMKeyBinding& x, const CIMKeyBinding& y);

class PEGASUS_COMMON_LINKAGE CIMObjectPath {
public:
    CIMObjectPath();
    CIMObjectPath(const CIMObjectPath& x);
    CIMObjectPath(CIMObjectPath&& x) noexcept = default;
    CIMObjectPath(const String& objectName);  // MalformedObjectNameException
    CIMObjectPath(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
                  const Array<CIMKeyBinding>& keyBindings = Array<CIMKeyBinding>());
    ~CIMObjectPath();

    CIMObjectPath& operator=(const CIMObjectPath& x);
    CIMObjectPath& operator=(CIMObjectPath&& x) noexcept = default;
    CIMObjectPath& operator=(const String& objectName);
    void clear();
    void set(const String& host, const CIMNamespaceName& nameSpace, const CIMName& className,
             const Array<CIMKeyBinding>& keyBindings = Array<CIMKeyBinding>());
    void set(const String& objectName);

    // Host (if any) as //host/, namespace (if any, always when there is a host)
    // followed by ':', the class name, then '.' and the key bindings in name order,
    // string and reference values in double quotes with '"' and '\' escaped.
    String toString() const;

    const String& getHost() const;
    void setHost(const String& host);  // MalformedObjectNameException for a bad host
    const CIMNamespaceName& getNameSpace() const;
    void setNameSpace(const CIMNamespaceName& nameSpace);
    const CIMName& getClassName() const;
    void setClassName(const CIMName& className);
    const Array<CIMKeyBinding>& getKeyBindings() const;
    // Kept sorted by name, without regard to case.
    void setKeyBindings(const Array<CIMKeyBinding>& keyBindings);

    Boolean identical(const CIMObjectPath& x) const;
    Uint32 makeHashCode() const;

private:
    friend struct CIMObjectAccess;
    String _host;
    CIMNamespaceName _nameSpace;
    CIMName _className;
    Array<CIMKeyBinding> _keyBindings;
};

PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMObjectPath& x, const CIMObjectPath& y);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMObjectPath& x, const CIMObjectPath& y);

PEGASUS_NAMESPACE_END

#endif
