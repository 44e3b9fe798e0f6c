// The exception classes of the client API.  Every one derives from Exception;
// getMessage() gives the full text.
#ifndef Pegasus_Exception_h
#define Pegasus_Exception_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/CIMStatusCode.h>

PEGASUS_NAMESPACE_BEGIN

class CIMInstance;
class CIMConstInstance;
template <class T>
class Array;

class PEGASUS_COMMON_LINKAGE Exception {
public:
    Exception(const String& message);
    Exception(const Exception& exception);
    virtual ~Exception();
    Exception& operator=(const Exception& exception);
    virtual const String& getMessage() const;

protected:
    Exception();
    String _message;
};

#define PEGASUS_DECLARE_SIMPLE_EXCEPTION(NAME)             \
    class PEGASUS_COMMON_LINKAGE NAME : public Exception { \
    public:                                                \
        NAME();                                            \
    }

#define PEGASUS_DECLARE_MESSAGE_EXCEPTION(NAME, ARG)       \
    class PEGASUS_COMMON_LINKAGE NAME : public Exception { \
    public:                                                \
        NAME(const String& ARG);                           \
    }

PEGASUS_DECLARE_SIMPLE_EXCEPTION(IndexOutOfBoundsException);       // "index out of bounds"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(UninitializedObjectException);    // "uninitialized object"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(DynamicCastFailedException);      // "dynamic cast failed"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(InvalidDateTimeFormatException);  // "invalid datetime format"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(CannotCreateSocketException);     // "Cannot create socket"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(AlreadyConnectedException);       // "already connected"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(NotConnectedException);           // "not connected"
PEGASUS_DECLARE_SIMPLE_EXCEPTION(ConnectionTimeoutException);      // "connection timed out"

PEGASUS_DECLARE_MESSAGE_EXCEPTION(AlreadyExistsException, message);  // "already exists: <message>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(InvalidNameException, name);       // "The CIM name is not valid: <name>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(InvalidNamespaceNameException,
                                  name);  // "invalid CIM namespace name: <name>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(MalformedObjectNameException,
                                  objectName);                        // "malformed object name: <text>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(BindFailedException, message);      // "Bind failed: <message>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(InvalidLocatorException, locator);  // "Invalid locator: <locator>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(CannotConnectException, message);   // the message as given
PEGASUS_DECLARE_MESSAGE_EXCEPTION(DateTimeOutOfRangeException,
                                  message);                // "DateTime is out of range : <message>"
PEGASUS_DECLARE_MESSAGE_EXCEPTION(SSLException, message);  // "SSL Exception: <message>"

#undef PEGASUS_DECLARE_SIMPLE_EXCEPTION
#undef PEGASUS_DECLARE_MESSAGE_EXCEPTION

class PEGASUS_COMMON_LINKAGE TypeMismatchException : public Exception {
public:
    TypeMismatchException();                       // "type mismatch"
    TypeMismatchException(const String& message);  // "type mismatch: <message>"
};

struct CIMExceptionRep;

// A failure reported by a CIM server (or one that stands for such a failure).
// getMessage() is the description alone; getCode() the status code.
class PEGASUS_COMMON_LINKAGE CIMException : public Exception {
public:
    CIMException(CIMStatusCode code = CIM_ERR_SUCCESS, const String& message = String::EMPTY);
    CIMException(CIMStatusCode code, const String& message, const CIMInstance& instance);
    CIMException(CIMStatusCode code, const String& message, const Array<CIMInstance>& instances);
    CIMException(const CIMException& cimException);
    CIMException& operator=(const CIMException& cimException);
    virtual ~CIMException();

    CIMStatusCode getCode() const;
    // The CIM_Error instances that came with the failure.
    Uint32 getErrorCount() const;
    CIMConstInstance getError(Uint32 index) const;
    void addError(const CIMInstance& instance);

private:
    CIMStatusCode _code;
    CIMExceptionRep* _rep;
};

PEGASUS_NAMESPACE_END

#endif
