// Exceptions of the client side: malformed HTTP, HTTP errors, malformed
// CIM-XML and answers that do not fit the request.
#include <Pegasus/Client/CIMClientException.h>

#include <string>

PEGASUS_NAMESPACE_BEGIN

CIMClientMalformedHTTPException::CIMClientMalformedHTTPException(const String& message) : Exception(message)
{}

CIMClientXmlException::CIMClientXmlException(const String& message) : Exception(message) {}

CIMClientResponseException::CIMClientResponseException(const String& message) : Exception(message) {}

namespace {
// "HTTP Error (400 Bad Request), CIMError: request-not-valid, detail: ..."
String httpErrorMessage(Uint32 code, const String& reason, const String& cimError, const String& detail)
{
    String m("HTTP Error (");
    m.append(String(std::to_string(code).c_str()));
    if (reason.size() != 0) {
        m.append(Char16(' '));
        m.append(reason);
    }
    m.append(Char16(')'));
    if (cimError.size() != 0) {
        m.append(String(", CIMError: "));
        m.append(cimError);
    }
    if (detail.size() != 0) {
        m.append(String(", detail: "));
        m.append(detail);
    }
    return m;
}
}  // namespace

CIMClientHTTPErrorException::CIMClientHTTPErrorException(Uint32 httpStatusCode, const String& reasonPhrase,
                                                         const String& cimError, const String& cimErrorDetail)
    : Exception(httpErrorMessage(httpStatusCode, reasonPhrase, cimError, cimErrorDetail)),
      _code(httpStatusCode),
      _reasonPhrase(reasonPhrase),
      _cimError(cimError),
      _cimErrorDetail(cimErrorDetail)
{}

CIMClientHTTPErrorException::CIMClientHTTPErrorException(const CIMClientHTTPErrorException& httpError)
    : Exception(httpError),
      _code(httpError._code),
      _reasonPhrase(httpError._reasonPhrase),
      _cimError(httpError._cimError),
      _cimErrorDetail(httpError._cimErrorDetail)
{}

CIMClientHTTPErrorException::~CIMClientHTTPErrorException() {}

Uint32 CIMClientHTTPErrorException::getCode() const
{
    return _code;
}
String CIMClientHTTPErrorException::getReasonPhrase() const
{
    return _reasonPhrase;
}
String CIMClientHTTPErrorException::getCIMError() const
{
    return _cimError;
}
String CIMClientHTTPErrorException::getCIMErrorDetail() const
{
    return _cimErrorDetail;
}

PEGASUS_NAMESPACE_END
