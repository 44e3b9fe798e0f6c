// libFuzzer harness: any HTTP request text (request line, header lines, blank
// line, body) to minicimd's handler, its headers read as the server reads them
// (names without regard to case, CIMMethod and CIMObject URI-decoded, TE).
// Every input must get an HTTP answer; no exception may escape.
#include "repo/Repository.h"
#include "server/CimHandler.h"
#include "server/HttpServer.h"

#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {
struct Server {
    std::unique_ptr<minicimd::Repository> repo = minicimd::Repository::create();
    minicimd::CimHandler handler = minicimd::CimHandler::create(*repo);
    Server()
    {
        std::string here = __FILE__;
        repo->loadMof("root/test", here.substr(0, here.rfind('/')) + "/../schema/minicimd-test.mof");
        handler.addTestProviders();
    }
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// The first header of that name, as libmicrohttpd gives it.
const std::string* find(const Headers& headers, const char* name)
{
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name) == 0) return &h.second;
    return nullptr;
}

std::string trimmed(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r") + 1 - b);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Server* server = new Server();
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t end = text.find("\r\n\r\n");
    const size_t bodyAt = end == std::string::npos ? text.size() : end + 4;
    if (end == std::string::npos) end = text.size();

    std::string version = "HTTP/1.1";
    Headers headers;
    size_t at = 0;
    bool requestLine = true;
    while (at < end) {
        size_t eol = text.find("\r\n", at);
        if (eol == std::string::npos || eol > end) eol = end;
        const std::string line = text.substr(at, eol - at);
        at = eol + 2;
        if (requestLine) {
            requestLine = false;
            const size_t sp = line.rfind(' ');
            if (sp != std::string::npos) version = line.substr(sp + 1);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
    }

    auto header = [&](const char* name) {
        const std::string* v = find(headers, name);
        return v ? *v : std::string();
    };
    minicimd::HttpRequestInfo req;
    req.hasCimOperation = find(headers, "CIMOperation") != nullptr;
    req.cimOperation = header("CIMOperation");
    req.cimMethod = minicimd::uriDecode(header("CIMMethod"));
    req.cimObject = minicimd::uriDecode(header("CIMObject"));
    req.contentType = header("Content-Type");
    req.wantsTrailers = header("TE").find("trailers") != std::string::npos && version != "HTTP/1.0";
    req.body = text.substr(bodyAt);
    minicimd::HttpAnswer a = server->handler.handle(req);
    if (a.status != 200 && a.status != 400) abort();
    return 0;
}
