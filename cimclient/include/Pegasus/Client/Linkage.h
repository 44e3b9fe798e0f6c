#ifndef Pegasus_Client_Linkage_h
#define Pegasus_Client_Linkage_h
#include <Pegasus/Common/Config.h>
#define PEGASUS_CLIENT_LINKAGE PEGASUS_EXPORT
#endif
