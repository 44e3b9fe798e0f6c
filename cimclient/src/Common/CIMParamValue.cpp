#include <Pegasus/Common/CIMParamValue.h>
#include <Pegasus/Common/Exception.h>

PEGASUS_NAMESPACE_BEGIN

struct CIMParamValueRep {
    String name;
    CIMValue value;
    Boolean isTyped;
};

namespace {
CIMParamValueRep& checked(const std::shared_ptr<CIMParamValueRep>& rep)
{
    if (!rep) throw UninitializedObjectException();
    return *rep;
}
}  // namespace

CIMParamValue::CIMParamValue() {}
CIMParamValue::CIMParamValue(const CIMParamValue& x) : _rep(x._rep) {}

CIMParamValue::CIMParamValue(String parameterName, CIMValue value, Boolean isTyped)
    : _rep(std::make_shared<CIMParamValueRep>(CIMParamValueRep{parameterName, value, isTyped}))
{}

CIMParamValue::~CIMParamValue() {}

CIMParamValue& CIMParamValue::operator=(const CIMParamValue& x)
{
    _rep = x._rep;
    return *this;
}

String CIMParamValue::getParameterName() const
{
    return checked(_rep).name;
}
void CIMParamValue::setParameterName(String& parameterName)
{
    checked(_rep).name = parameterName;
}
CIMValue CIMParamValue::getValue() const
{
    return checked(_rep).value;
}
void CIMParamValue::setValue(CIMValue& value)
{
    checked(_rep).value = value;
}
Boolean CIMParamValue::isTyped() const
{
    return checked(_rep).isTyped;
}
void CIMParamValue::setIsTyped(Boolean isTyped)
{
    checked(_rep).isTyped = isTyped;
}
Boolean CIMParamValue::isUninitialized() const
{
    return !_rep;
}

CIMParamValue CIMParamValue::clone() const
{
    const CIMParamValueRep& rep = checked(_rep);
    return CIMParamValue(rep.name, rep.value, rep.isTyped);
}

PEGASUS_NAMESPACE_END
