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

    // Whether exports to this path (the request's path, "/..." ) are for this
    // consumer.  Our listener asks it before it reads a request's body, refuses
    // a path no consumer takes, and hands an indication only to the consumers
    // that take its path.  A consumer that keeps no such secret takes every
    // path.  Called on the listener's threads with its lock held: it must be
    // quick and must not call the listener.
    virtual Boolean acceptsDestination(const String& destinationPath) const
    {
        (void)destinationPath;
        return true;
    }
};

PEGASUS_NAMESPACE_END

#endif
