// CIMClient: CIM operations as CIM-XML (CimXml/) over HTTP (HttpTransport.h, LocalAuth.h).
#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/Constants.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "CimXml/CimXml.h"
#include "Client/HttpTransport.h"
#include "Client/LocalAuth.h"

PEGASUS_NAMESPACE_BEGIN

namespace {

using orv::cimxml::CimRequest;
using orv::cimxml::CimResponse;
using orv::cimxml::IParamValue;

std::string utf8(const String& s)
{
    return std::string(static_cast<const char*>(s.getCString()));
}

String fromUtf8(const std::string& s)
{
    return String(s.data(), static_cast<Uint32>(s.size()));
}

bool equalNoCase(const std::string& a, const std::string& b)
{
    return String::equalNoCase(fromUtf8(a), fromUtf8(b));
}

void addPropertyList(CimRequest& r, const CIMPropertyList& list)
{
    if (list.isNull()) return;
    Array<String> names;
    for (Uint32 i = 0; i < list.size(); ++i) names.append(list[i].getString());
    r.iparams.push_back(IParamValue::ofStringArray("PropertyList", names));
}

// An instance name as INSTANCENAME carries it: class and keys only.
CIMObjectPath localName(const CIMObjectPath& path)
{
    return CIMObjectPath(String(), CIMNamespaceName(), path.getClassName(), path.getKeyBindings());
}

}  // namespace

class CIMClientRep {
public:
    Uint32 timeout = PEGASUS_DEFAULT_CLIENT_TIMEOUT_MILLISECONDS;
    std::unique_ptr<orv::http::HttpConnection> connection;
    Uint64 nextMessageId = 1000;
    // Buffers and names of the answers read, for the next one.
    orv::cimxml::ReadScratch scratch;

    void requireUnconnected() const
    {
        if (connection) throw AlreadyConnectedException();
    }

    // Opens a probe connection so that an absent server is reported by
    // connect itself, as callers of OpenPegasus expect.
    void attach(std::unique_ptr<orv::http::HttpConnection> c)
    {
        try {
            c->checkReachable(timeout);
        } catch (const orv::http::TransportError& e) {
            if (e.kind() == orv::http::TransportError::Kind::Timeout) throw ConnectionTimeoutException();
            throw CannotConnectException(fromUtf8(e.what()));
        }
        connection = std::move(c);
    }

    CimResponse call(CimRequest& request, const std::string& cimObject)
    {
        if (!connection) throw NotConnectedException();
        request.messageId = std::to_string(++nextMessageId);
        std::string body;
        try {
            body = orv::cimxml::writeRequest(request);
        } catch (const orv::cimxml::EncodeError& e) {
            throw Exception(fromUtf8(std::string("cannot send ") + request.methodName + ": " + e.what()));
        }
        std::vector<std::string> headers = {
            "Content-Type: application/xml; charset=\"utf-8\"",
            "CIMOperation: MethodCall",
            "CIMMethod: " + orv::http::uriEscape(request.methodName),
            "CIMObject: " + orv::http::uriEscape(cimObject),
            "TE: trailers",
        };
        orv::http::HttpResponse response;
        try {
            response = connection->post("/cimom", std::move(headers), body, timeout);
        } catch (const orv::http::TransportError& e) {
            using K = orv::http::TransportError::Kind;
            switch (e.kind()) {
                case K::CannotConnect:
                    throw CannotConnectException(fromUtf8(e.what()));
                case K::Timeout:
                    throw ConnectionTimeoutException();
                case K::Malformed:
                    throw CIMClientMalformedHTTPException(fromUtf8(e.what()));
                case K::TooLarge:
                    throw CIMClientResponseException(fromUtf8(e.what()));
                case K::AuthRefused:
                case K::Failed:
                    break;
            }
            throw Exception(fromUtf8(e.what()));
        }
        CimResponse r = interpret(request, response);
        connection->recycleBody(std::move(response.body));
        return r;
    }

    CimResponse interpret(const CimRequest& request, const orv::http::HttpResponse& response)
    {
        if (response.status != 200) {
            std::string reason;
            std::size_t sp = response.statusLine.find(' ');
            if (sp != std::string::npos) {
                std::size_t sp2 = response.statusLine.find(' ', sp + 1);
                if (sp2 != std::string::npos) reason = response.statusLine.substr(sp2 + 1);
            }
            const std::string* cimError = response.field("CIMError");
            const std::string* detail = response.field("PGErrorDetail");
            throw CIMClientHTTPErrorException(static_cast<Uint32>(response.status), fromUtf8(reason),
                                              cimError ? fromUtf8(*cimError) : String(),
                                              detail ? fromUtf8(orv::http::uriUnescape(*detail)) : String());
        }
        // A server answering with chunks may report the failure only in the
        // trailer, after an empty response element.
        if (const std::string* status = response.field("CIMStatusCode")) {
            char* end = nullptr;
            unsigned long code = std::strtoul(status->c_str(), &end, 10);
            if (status->empty() || end == nullptr || *end != '\0' || code > 0xFFFF) {
                throw CIMClientResponseException(fromUtf8("malformed CIMStatusCode \"" + *status + "\""));
            }
            if (code != 0) {
                const std::string* description = response.field("CIMStatusCodeDescription");
                std::string text = description ? orv::http::uriUnescape(*description) : std::string();
                // A code past the defined ones is no CIMStatusCode; it stays in the message.
                if (code > CIM_ERR_SERVER_IS_SHUTTING_DOWN) {
                    throw CIMException(CIM_ERR_FAILED,
                                       fromUtf8("CIM status " + std::to_string(code) +
                                                (text.empty() ? std::string() : ": " + text)));
                }
                if (text.empty()) text = cimStatusCodeToString(static_cast<CIMStatusCode>(code));
                throw CIMException(static_cast<CIMStatusCode>(code), fromUtf8(text));
            }
        }
        const std::string* operation = response.field("CIMOperation");
        if (operation == nullptr || !equalNoCase(*operation, "MethodResponse")) {
            throw CIMClientResponseException("the answer is not a CIM MethodResponse");
        }
        CimResponse r;
        try {
            r = orv::cimxml::readResponse(response.body, scratch);
        } catch (const orv::cimxml::XmlError& e) {
            throw CIMClientXmlException(fromUtf8(e.what()));
        }
        if (r.isError) {
            String text = r.errorDescription;
            if (text.size() == 0) text = cimStatusCodeToString(r.errorCode);
            if (r.errorInstances.size() != 0) throw CIMException(r.errorCode, text, r.errorInstances);
            throw CIMException(r.errorCode, text);
        }
        if (r.intrinsic != request.intrinsic || !equalNoCase(r.methodName, request.methodName)) {
            throw CIMClientResponseException(
                fromUtf8("the answer to " + request.methodName + " is for " + r.methodName));
        }
        if (r.messageId != request.messageId) {
            throw CIMClientResponseException(
                fromUtf8("the answer carries message ID " + r.messageId + ", not " + request.messageId));
        }
        return r;
    }

    CimResponse intrinsic(const CIMNamespaceName& ns, const char* method, std::vector<IParamValue> params)
    {
        CimRequest r;
        r.intrinsic = true;
        r.methodName = method;
        r.nameSpace = ns;
        r.iparams = std::move(params);
        return call(r, utf8(ns.getString()));
    }

    [[noreturn]] static void missing(const char* method, const char* what)
    {
        throw CIMClientResponseException(
            fromUtf8(std::string("the server's ") + method + " answer holds no " + what));
    }
};

CIMClient::CIMClient() : _rep(new CIMClientRep) {}

CIMClient::~CIMClient()
{
    delete _rep;
}

Uint32 CIMClient::getTimeout() const
{
    return _rep->timeout;
}

void CIMClient::setTimeout(Uint32 timeoutMilliseconds)
{
    _rep->timeout = timeoutMilliseconds;
}

void CIMClient::connect(const String& host, const Uint32 portNumber, const String& userName,
                        const String& password)
{
    if (host.size() == 0 && portNumber == 0) {
        connectLocal();
        return;
    }
    _rep->requireUnconnected();
    if (host.size() == 0) throw InvalidLocatorException(String(":") + fromUtf8(std::to_string(portNumber)));
    if (portNumber == 0 || portNumber > 65535) {
        throw InvalidLocatorException(host + String(":") + fromUtf8(std::to_string(portNumber)));
    }
    _rep->attach(orv::http::HttpConnection::overTcp(utf8(host), portNumber, utf8(userName), utf8(password)));
}

void CIMClient::connectLocal()
{
    _rep->requireUnconnected();
    std::string path = orv::http::findLocalSocketPath();
    if (path.empty()) {
        std::string tried;
        for (const auto& p : orv::http::defaultLocalSocketPaths()) tried += (tried.empty() ? "" : ", ") + p;
        throw CannotConnectException(fromUtf8(
            "no local CIM server socket: CIM_LOCAL_SOCKET is not set and none of " + tried + " exists"));
    }
    std::string user = orv::http::currentUserName();
    if (user.empty()) throw CannotConnectException("cannot determine the name of the current user");
    auto c = orv::http::HttpConnection::overUnixSocket(path);
    c->enableLocalAuthentication(user, orv::http::localAuthDirectories());
    _rep->attach(std::move(c));
}

void CIMClient::disconnect()
{
    _rep->connection.reset();
}

CIMClass CIMClient::getClass(const CIMNamespaceName& nameSpace, const CIMName& className, Boolean localOnly,
                             Boolean includeQualifiers, Boolean includeClassOrigin,
                             const CIMPropertyList& propertyList)
{
    CimRequest r;
    r.iparams = {IParamValue::ofClassName("ClassName", className),
                 IParamValue::ofBoolean("LocalOnly", localOnly),
                 IParamValue::ofBoolean("IncludeQualifiers", includeQualifiers),
                 IParamValue::ofBoolean("IncludeClassOrigin", includeClassOrigin)};
    addPropertyList(r, propertyList);
    CimResponse resp = _rep->intrinsic(nameSpace, "GetClass", std::move(r.iparams));
    if (resp.kind != CimResponse::ReturnKind::Classes || resp.classes.size() != 1) {
        CIMClientRep::missing("GetClass", "class");
    }
    return resp.classes[0];
}

CIMInstance CIMClient::getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                   Boolean localOnly, Boolean includeQualifiers, Boolean includeClassOrigin,
                                   const CIMPropertyList& propertyList)
{
    CimRequest r;
    r.iparams = {IParamValue::ofInstanceName("InstanceName", localName(instanceName)),
                 IParamValue::ofBoolean("LocalOnly", localOnly),
                 IParamValue::ofBoolean("IncludeQualifiers", includeQualifiers),
                 IParamValue::ofBoolean("IncludeClassOrigin", includeClassOrigin)};
    addPropertyList(r, propertyList);
    CimResponse resp = _rep->intrinsic(nameSpace, "GetInstance", std::move(r.iparams));
    if (resp.kind != CimResponse::ReturnKind::Instances || resp.instances.size() != 1) {
        CIMClientRep::missing("GetInstance", "instance");
    }
    CIMInstance inst = resp.instances[0];
    // The answer does not repeat the name; the caller's is the instance's path.
    inst.setPath(instanceName);
    return inst;
}

Array<CIMName> CIMClient::enumerateClassNames(const CIMNamespaceName& nameSpace, const CIMName& className,
                                              Boolean deepInheritance)
{
    std::vector<IParamValue> p;
    if (!className.isNull()) p.push_back(IParamValue::ofClassName("ClassName", className));
    p.push_back(IParamValue::ofBoolean("DeepInheritance", deepInheritance));
    CimResponse resp = _rep->intrinsic(nameSpace, "EnumerateClassNames", std::move(p));
    if (resp.kind != CimResponse::ReturnKind::ClassNames && resp.kind != CimResponse::ReturnKind::None) {
        CIMClientRep::missing("EnumerateClassNames", "class names");
    }
    return std::move(resp.classNames);
}

Array<CIMObjectPath> CIMClient::enumerateInstanceNames(const CIMNamespaceName& nameSpace,
                                                       const CIMName& className)
{
    CimResponse resp = _rep->intrinsic(nameSpace, "EnumerateInstanceNames",
                                       {IParamValue::ofClassName("ClassName", className)});
    if (resp.kind != CimResponse::ReturnKind::InstanceNames && resp.kind != CimResponse::ReturnKind::None) {
        CIMClientRep::missing("EnumerateInstanceNames", "instance names");
    }
    return std::move(resp.instanceNames);
}

Array<CIMInstance> CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                                 Boolean deepInheritance, Boolean localOnly,
                                                 Boolean includeQualifiers, Boolean includeClassOrigin,
                                                 const CIMPropertyList& propertyList)
{
    CimRequest r;
    r.iparams = {IParamValue::ofClassName("ClassName", className),
                 IParamValue::ofBoolean("DeepInheritance", deepInheritance),
                 IParamValue::ofBoolean("LocalOnly", localOnly),
                 IParamValue::ofBoolean("IncludeQualifiers", includeQualifiers),
                 IParamValue::ofBoolean("IncludeClassOrigin", includeClassOrigin)};
    addPropertyList(r, propertyList);
    CimResponse resp = _rep->intrinsic(nameSpace, "EnumerateInstances", std::move(r.iparams));
    if (resp.kind != CimResponse::ReturnKind::NamedInstances && resp.kind != CimResponse::ReturnKind::None) {
        CIMClientRep::missing("EnumerateInstances", "named instances");
    }
    return std::move(resp.instances);
}

CIMObjectPath CIMClient::createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance)
{
    CimResponse resp =
        _rep->intrinsic(nameSpace, "CreateInstance", {IParamValue::ofInstance("NewInstance", newInstance)});
    if (resp.kind != CimResponse::ReturnKind::InstanceNames || resp.instanceNames.size() != 1) {
        CIMClientRep::missing("CreateInstance", "instance name");
    }
    return resp.instanceNames[0];
}

void CIMClient::deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName)
{
    _rep->intrinsic(nameSpace, "DeleteInstance",
                    {IParamValue::ofInstanceName("InstanceName", localName(instanceName))});
}

void CIMClient::modifyInstance(const CIMNamespaceName& nameSpace, const CIMInstance& modifiedInstance,
                               Boolean includeQualifiers, const CIMPropertyList& propertyList)
{
    if (modifiedInstance.getPath().getKeyBindings().size() == 0) {
        throw Exception("modifyInstance: the instance carries no path with key bindings");
    }
    CIMInstance named = modifiedInstance.clone();
    named.setPath(localName(modifiedInstance.getPath()));
    CimRequest r;
    r.iparams = {IParamValue::ofNamedInstance("ModifiedInstance", named),
                 IParamValue::ofBoolean("IncludeQualifiers", includeQualifiers)};
    addPropertyList(r, propertyList);
    _rep->intrinsic(nameSpace, "ModifyInstance", std::move(r.iparams));
}

CIMValue CIMClient::getProperty(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                const CIMName& propertyName)
{
    CimResponse resp = _rep->intrinsic(nameSpace, "GetProperty",
                                       {IParamValue::ofInstanceName("InstanceName", localName(instanceName)),
                                        IParamValue::ofString("PropertyName", propertyName.getString())});
    if (resp.kind == CimResponse::ReturnKind::None) return CIMValue();  // a null property
    if (resp.kind != CimResponse::ReturnKind::Value) CIMClientRep::missing("GetProperty", "value");
    return resp.value;
}

void CIMClient::setProperty(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                            const CIMName& propertyName, const CIMValue& newValue)
{
    std::vector<IParamValue> p = {IParamValue::ofInstanceName("InstanceName", localName(instanceName)),
                                  IParamValue::ofString("PropertyName", propertyName.getString())};
    // An absent NewValue sets the property to null.
    if (!newValue.isNull()) p.push_back(IParamValue::ofValue("NewValue", newValue));
    _rep->intrinsic(nameSpace, "SetProperty", std::move(p));
}

CIMValue CIMClient::invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                 const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                                 Array<CIMParamValue>& outParameters)
{
    CimRequest r;
    r.intrinsic = false;
    r.methodName = utf8(methodName.getString());
    r.nameSpace = nameSpace;
    r.target = localName(instanceName);
    r.params = inParameters;
    CIMObjectPath object(String(), nameSpace, instanceName.getClassName(), instanceName.getKeyBindings());
    CimResponse resp = _rep->call(r, utf8(object.toString()));
    outParameters = resp.outParams;
    return resp.returnValue;
}

PEGASUS_NAMESPACE_END
