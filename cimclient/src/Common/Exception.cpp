// implementation follows
#include <Pegasus/Common/Config.h>
