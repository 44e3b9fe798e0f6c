// The exception classes; message texts follow the reference library's.
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Common/Array.h>
#include <Pegasus/Common/CIMInstance.h>
#include <vector>

PEGASUS_NAMESPACE_BEGIN

Exception::Exception(const String& message) : _message(message) {}
Exception::Exception(const Exception& exception) : _message(exception._message) {}
Exception::Exception() {}
Exception::~Exception() {}

Exception& Exception::operator=(const Exception& exception)
{
    _message = exception._message;
    return *this;
}

const String& Exception::getMessage() const
{
    return _message;
}

void ArrayThrowIndexOutOfBoundsException()
{
    throw IndexOutOfBoundsException();
}

IndexOutOfBoundsException::IndexOutOfBoundsException() : Exception("index out of bounds") {}
UninitializedObjectException::UninitializedObjectException() : Exception("uninitialized object") {}
DynamicCastFailedException::DynamicCastFailedException() : Exception("dynamic cast failed") {}
InvalidDateTimeFormatException::InvalidDateTimeFormatException() : Exception("invalid datetime format") {}
CannotCreateSocketException::CannotCreateSocketException() : Exception("Cannot create socket") {}
AlreadyConnectedException::AlreadyConnectedException() : Exception("already connected") {}
NotConnectedException::NotConnectedException() : Exception("not connected") {}
ConnectionTimeoutException::ConnectionTimeoutException() : Exception("connection timed out") {}

AlreadyExistsException::AlreadyExistsException(const String& message)
    : Exception(String("already exists: ") + message)
{}
InvalidNameException::InvalidNameException(const String& name)
    : Exception(String("The CIM name is not valid: ") + name)
{}
InvalidNamespaceNameException::InvalidNamespaceNameException(const String& name)
    : Exception(String("invalid CIM namespace name: ") + name)
{}
MalformedObjectNameException::MalformedObjectNameException(const String& objectName)
    : Exception(String("malformed object name: ") + objectName)
{}
BindFailedException::BindFailedException(const String& message) : Exception(String("Bind failed: ") + message)
{}
InvalidLocatorException::InvalidLocatorException(const String& locator)
    : Exception(String("Invalid locator: ") + locator)
{}
CannotConnectException::CannotConnectException(const String& message) : Exception(message) {}
DateTimeOutOfRangeException::DateTimeOutOfRangeException(const String& message)
    : Exception(String("DateTime is out of range : ") + message)
{}
SSLException::SSLException(const String& message) : Exception(String("SSL Exception: ") + message) {}

TypeMismatchException::TypeMismatchException() : Exception("type mismatch") {}
TypeMismatchException::TypeMismatchException(const String& message)
    : Exception(String("type mismatch: ") + message)
{}

struct CIMExceptionRep {
    std::vector<CIMInstance> errors;
};

CIMException::CIMException(CIMStatusCode code, const String& message)
    : Exception(message), _code(code), _rep(new CIMExceptionRep)
{}

CIMException::CIMException(CIMStatusCode code, const String& message, const CIMInstance& instance)
    : Exception(message), _code(code), _rep(new CIMExceptionRep)
{
    _rep->errors.push_back(instance);
}

CIMException::CIMException(CIMStatusCode code, const String& message, const Array<CIMInstance>& instances)
    : Exception(message), _code(code), _rep(new CIMExceptionRep)
{
    for (Uint32 i = 0; i < instances.size(); i++) _rep->errors.push_back(instances[i]);
}

CIMException::CIMException(const CIMException& cimException)
    : Exception(cimException), _code(cimException._code), _rep(new CIMExceptionRep(*cimException._rep))
{}

CIMException& CIMException::operator=(const CIMException& cimException)
{
    if (this != &cimException) {
        Exception::operator=(cimException);
        _code = cimException._code;
        *_rep = *cimException._rep;
    }
    return *this;
}

CIMException::~CIMException()
{
    delete _rep;
}

CIMStatusCode CIMException::getCode() const
{
    return _code;
}

Uint32 CIMException::getErrorCount() const
{
    return Uint32(_rep->errors.size());
}

CIMConstInstance CIMException::getError(Uint32 index) const
{
    if (index >= _rep->errors.size()) throw IndexOutOfBoundsException();
    return _rep->errors[index];
}

void CIMException::addError(const CIMInstance& instance)
{
    _rep->errors.push_back(instance);
}

PEGASUS_NAMESPACE_END
