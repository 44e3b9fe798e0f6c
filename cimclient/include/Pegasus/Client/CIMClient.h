// The CIM client: CIM operations over HTTP (CIM-XML) to a CIM server, through
// its local domain socket (connectLocal) or TCP (connect).
#ifndef Pegasus_Client_h
#define Pegasus_Client_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Constants.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Array.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMType.h>
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMObject.h>
#include <Pegasus/Common/CIMParamValue.h>
#include <Pegasus/Common/CIMPropertyList.h>
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Client/CIMClientException.h>
#include <Pegasus/Client/Linkage.h>

PEGASUS_NAMESPACE_BEGIN

class CIMClientRep;

class PEGASUS_CLIENT_LINKAGE CIMClient {
public:
    CIMClient();
    ~CIMClient();

    Uint32 getTimeout() const;
    void setTimeout(Uint32 timeoutMilliseconds);

    // host "" with port 0 means the local domain socket.  AlreadyConnectedException,
    // InvalidLocatorException, CannotCreateSocketException, CannotConnectException.
    void connect(const String& host, const Uint32 portNumber, const String& userName, const String& password);
    // The server's local domain socket, as the current user.
    void connectLocal();
    // No-op when not connected.
    void disconnect();

    CIMClass getClass(const CIMNamespaceName& nameSpace, const CIMName& className, Boolean localOnly = true,
                      Boolean includeQualifiers = true, Boolean includeClassOrigin = false,
                      const CIMPropertyList& propertyList = CIMPropertyList());

    CIMInstance getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                            Boolean localOnly = true, Boolean includeQualifiers = false,
                            Boolean includeClassOrigin = false,
                            const CIMPropertyList& propertyList = CIMPropertyList());

    Array<CIMName> enumerateClassNames(const CIMNamespaceName& nameSpace,
                                       const CIMName& className = CIMName(), Boolean deepInheritance = false);

    Array<CIMObjectPath> enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className);

    Array<CIMInstance> enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                          Boolean deepInheritance = true, Boolean localOnly = true,
                                          Boolean includeQualifiers = false,
                                          Boolean includeClassOrigin = false,
                                          const CIMPropertyList& propertyList = CIMPropertyList());

    CIMObjectPath createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance);

    void deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName);

    void modifyInstance(const CIMNamespaceName& nameSpace, const CIMInstance& modifiedInstance,
                        Boolean includeQualifiers = true,
                        const CIMPropertyList& propertyList = CIMPropertyList());

    CIMValue getProperty(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                         const CIMName& propertyName);

    void setProperty(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                     const CIMName& propertyName, const CIMValue& newValue = CIMValue());

    CIMValue invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                          const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                          Array<CIMParamValue>& outParameters);

private:
    CIMClient(const CIMClient&);
    CIMClient& operator=(const CIMClient&);

    CIMClientRep* _rep;
};

PEGASUS_NAMESPACE_END

#endif
