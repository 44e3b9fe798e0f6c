// What a listener calls for each indication it receives.
#ifndef Pegasus_CIMIndicationConsumer_h
#define Pegasus_CIMIndicationConsumer_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/OperationContext.h>

PEGASUS_NAMESPACE_BEGIN

class CIMIndicationConsumer {
public:
    CIMIndicationConsumer(){};
    virtual ~CIMIndicationConsumer(){};
    virtual void consumeIndication(const OperationContext& context, const String& destinationPath,
                                   const CIMInstance& indicationInstance) = 0;
};

PEGASUS_NAMESPACE_END

#endif
