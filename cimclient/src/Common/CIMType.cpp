#include <Pegasus/Common/CIMType.h>
#include <Pegasus/Common/CIMStatusCode.h>

PEGASUS_NAMESPACE_BEGIN

const char* cimTypeToString(const CIMType type)
{
    static const char* const names[] = {"boolean", "uint8",    "sint8",     "uint16", "sint16",  "uint32",
                                        "sint32",  "uint64",   "sint64",    "real32", "real64",  "char16",
                                        "string",  "datetime", "reference", "object", "instance"};
    const unsigned index = unsigned(type);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : "unknown";
}

const char* cimStatusCodeToString(CIMStatusCode code)
{
    switch (code) {
        case CIM_ERR_SUCCESS:
            return "successful";
        case CIM_ERR_FAILED:
            return "A general error occurred that is not covered by a more specific error code";
        case CIM_ERR_ACCESS_DENIED:
            return "Access to a CIM resource was not available to the client";
        case CIM_ERR_INVALID_NAMESPACE:
            return "The target namespace does not exist";
        case CIM_ERR_INVALID_PARAMETER:
            return "One or more parameter values passed to the method were invalid";
        case CIM_ERR_INVALID_CLASS:
            return "The specified class does not exist";
        case CIM_ERR_NOT_FOUND:
            return "The requested object could not be found";
        case CIM_ERR_NOT_SUPPORTED:
            return "The requested operation is not supported";
        case CIM_ERR_CLASS_HAS_CHILDREN:
            return "Operation cannot be carried out on this class since it has subclasses";
        case CIM_ERR_CLASS_HAS_INSTANCES:
            return "Operation cannot be carried out on this class since it has instances";
        case CIM_ERR_INVALID_SUPERCLASS:
            return "Operation cannot be carried out since the specified superclass does not exist";
        case CIM_ERR_ALREADY_EXISTS:
            return "Operation cannot be carried out because an object already exists";
        case CIM_ERR_NO_SUCH_PROPERTY:
            return "The specified property does not exist";
        case CIM_ERR_TYPE_MISMATCH:
            return "The value supplied is incompatible with the type";
        case CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED:
            return "The query language is not recognized or supported";
        case CIM_ERR_INVALID_QUERY:
            return "The query is not valid for the specified query language";
        case CIM_ERR_METHOD_NOT_AVAILABLE:
            return "The extrinsic method could not be executed";
        case CIM_ERR_METHOD_NOT_FOUND:
            return "The specified extrinsic method does not exist";
        case CIM_ERR_NAMESPACE_NOT_EMPTY:
            return "The specified namespace is not empty";
        case CIM_ERR_INVALID_ENUMERATION_CONTEXT:
            return "The enumeration context supplied is not valid";
        case CIM_ERR_INVALID_OPERATION_TIMEOUT:
            return "The specified operation timeout is not supported by the CIM server";
        case CIM_ERR_PULL_HAS_BEEN_ABANDONED:
            return "The pull operation has been abandoned";
        case CIM_ERR_PULL_CANNOT_BE_ABANDONED:
            return "The attempt to abandon a concurrent pull request failed";
        case CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED:
            return "Filtered enumeration is not supported";
        case CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED:
            return "Continuation on error is not supported";
        case CIM_ERR_SERVER_LIMITS_EXCEEDED:
            return "The CIM server has exceeded its limits";
        case CIM_ERR_SERVER_IS_SHUTTING_DOWN:
            return "The CIM server is shutting down";
    }
    return "Unrecognized CIM status code";
}

PEGASUS_NAMESPACE_END
