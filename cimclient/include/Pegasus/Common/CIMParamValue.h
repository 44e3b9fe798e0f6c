// A named method parameter value (in or out).  Copies share one parameter value.
#ifndef Pegasus_ParamValue_h
#define Pegasus_ParamValue_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/CIMValue.h>
#include <memory>

PEGASUS_NAMESPACE_BEGIN

struct CIMParamValueRep;

class PEGASUS_COMMON_LINKAGE CIMParamValue {
public:
    CIMParamValue();
    CIMParamValue(const CIMParamValue& x);
    // isTyped false: the type of the value is not known (it came without one).
    CIMParamValue(String parameterName, CIMValue value, Boolean isTyped = true);
    ~CIMParamValue();
    CIMParamValue& operator=(const CIMParamValue& x);

    String getParameterName() const;
    void setParameterName(String& parameterName);
    CIMValue getValue() const;
    void setValue(CIMValue& value);
    Boolean isTyped() const;
    void setIsTyped(Boolean isTyped = true);
    Boolean isUninitialized() const;
    CIMParamValue clone() const;

private:
    std::shared_ptr<CIMParamValueRep> _rep;
};

PEGASUS_NAMESPACE_END

#endif
