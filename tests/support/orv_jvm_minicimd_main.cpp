// main() for JVM test binaries that talk to a minicimd of their own (root/test,
// Local authentication), reached through CIM_LOCAL_SOCKET.
#include "minicimd_process.h"
#include "orv_jvm_test.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    // The server starts before the JVM, while this process is single-threaded.
    orvtest::MinicimdProcess::Options options;
    options.localAuth = true;
    orvtest::MinicimdProcess server(options);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    return orvtest::RunJvmTests(argc, argv);
}
