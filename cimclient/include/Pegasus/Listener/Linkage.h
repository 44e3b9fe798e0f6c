#ifndef Pegasus_Listener_Linkage_h
#define Pegasus_Listener_Linkage_h
#include <Pegasus/Common/Config.h>
#define PEGASUS_LISTENER_LINKAGE PEGASUS_EXPORT
#endif
