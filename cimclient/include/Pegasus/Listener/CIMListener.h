// Receives indications exported to a port and hands them to its consumers.
#ifndef Pegasus_CIMListener_h
#define Pegasus_CIMListener_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Listener/Linkage.h>

PEGASUS_NAMESPACE_BEGIN

class SSLContext;
class CIMIndicationConsumer;
class CIMListenerRep;

class PEGASUS_LISTENER_LINKAGE CIMListener {
public:
    CIMListener(Uint32 portNumber, SSLContext* sslContext = NULL);
    ~CIMListener();

    Uint32 getPortNumber() const;
    void start();
    void stop();
    Boolean isAlive() const;
    // False when the consumer is null or already there.
    Boolean addConsumer(CIMIndicationConsumer* consumer);
    Boolean removeConsumer(CIMIndicationConsumer* consumer);

private:
    CIMListener(const CIMListener&);
    CIMListener& operator=(const CIMListener&);

    CIMListenerRep* _rep;
};

PEGASUS_NAMESPACE_END

#endif
