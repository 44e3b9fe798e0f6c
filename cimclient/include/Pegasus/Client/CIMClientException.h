// Failures of the client's transport and of the answers it reads.
#ifndef Pegasus_CIMClientException_h
#define Pegasus_CIMClientException_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Client/Linkage.h>

PEGASUS_NAMESPACE_BEGIN

// An HTTP answer that cannot be read as HTTP.
class PEGASUS_CLIENT_LINKAGE CIMClientMalformedHTTPException : public Exception {
public:
    CIMClientMalformedHTTPException(const String& message);
};

// An HTTP error status from the server (other than a CIM error).
class PEGASUS_CLIENT_LINKAGE CIMClientHTTPErrorException : public Exception {
public:
    CIMClientHTTPErrorException(Uint32 httpStatusCode, const String& reasonPhrase,
                                const String& cimError = String(), const String& cimErrorDetail = String());
    CIMClientHTTPErrorException(const CIMClientHTTPErrorException& httpError);
    ~CIMClientHTTPErrorException();
    Uint32 getCode() const;
    String getReasonPhrase() const;
    String getCIMError() const;
    String getCIMErrorDetail() const;

private:
    Uint32 _code;
    String _reasonPhrase;
    String _cimError;
    String _cimErrorDetail;
};

// An answer body that is not well-formed CIM-XML.
class PEGASUS_CLIENT_LINKAGE CIMClientXmlException : public Exception {
public:
    CIMClientXmlException(const String& message);
};

// A well-formed answer that does not fit the request.
class PEGASUS_CLIENT_LINKAGE CIMClientResponseException : public Exception {
public:
    CIMClientResponseException(const String& message);
};

PEGASUS_NAMESPACE_END

#endif
