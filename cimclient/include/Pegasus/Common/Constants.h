#ifndef Pegasus_Constants_h
#define Pegasus_Constants_h
#include <Pegasus/Common/Config.h>

#define WBEM_DEFAULT_HTTP_PORT 5988
#define WBEM_DEFAULT_HTTPS_PORT 5989
#define PEGASUS_DEFAULT_CLIENT_TIMEOUT_MILLISECONDS 20000
// Where a server built without release directories listens for local connections.
#define PEGASUS_LOCAL_DOMAIN_SOCKET_PATH "/var/tmp/cimxml.socket"

#endif
