// libFuzzer harness: any body as a CIM-XML request to minicimd's handler,
// against the test schema.  Every input must get an HTTP answer; no exception
// may escape and the sanitizers must stay quiet.
#include "repo/Repository.h"
#include "server/CimHandler.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
struct Server {
    std::unique_ptr<minicimd::Repository> repo = minicimd::Repository::create();
    minicimd::CimHandler handler = minicimd::CimHandler::create(*repo);
    Server()
    {
        // The test schema, found from this file's own (absolute) path.
        std::string here = __FILE__;
        repo->loadMof("root/test", here.substr(0, here.rfind('/')) + "/../schema/minicimd-test.mof");
        handler.addTestProviders();
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Server* server = new Server();
    minicimd::HttpRequestInfo req;
    req.hasCimOperation = true;
    req.cimOperation = "MethodCall";
    req.wantsTrailers = size % 2 == 0;
    req.caller.privileged = true;  // every operation, changes too
    req.body.assign(reinterpret_cast<const char*>(data), size);
    minicimd::HttpAnswer a = server->handler.handle(req);
    if (a.status != 200 && a.status != 400) abort();
    return 0;
}
