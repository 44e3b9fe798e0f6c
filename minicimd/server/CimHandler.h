// One CIM-XML request in, one HTTP answer out: reads the request with the
// shared CIM-XML codec, runs the operation against the repository or a
// built-in provider and writes the answer with the codec, laid out the way an
// OpenPegasus server does (errors in trailers when the client accepts them,
// else an ERROR element).
#ifndef MINICIMD_SERVER_CIMHANDLER_H
#define MINICIMD_SERVER_CIMHANDLER_H

#include "repo/Repository.h"

#include <Pegasus/Common/CIMMethod.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace minicimd {

// Who sent a request, as the HTTP side knows it.
struct Caller {
    std::string user;         // empty: nobody known (TCP without authentication)
    bool privileged = false;  // root, or the user minicimd runs as
};

// What users other than the privileged ones may do.
struct AccessPolicy {
    // Users who may change the model (create, modify and delete instances,
    // set properties, invoke methods); "*" lets everyone, unauthenticated
    // TCP clients too.
    std::vector<std::string> modelUsers;
    // Each user may keep filters, listener destinations and subscriptions of
    // their own (up to IndicationService's per-user caps), seen and changed
    // only by them and the privileged users.
    bool userSubscriptions = false;
};

struct HttpRequestInfo {
    std::string cimOperation;  // header values; empty when absent
    std::string cimMethod;
    std::string cimObject;
    std::string contentType;
    bool hasCimOperation = false;
    bool wantsTrailers = false;  // TE names "trailers"
    std::string body;
    Caller caller;
};

struct HttpAnswer {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool chunked = false;
    std::vector<std::pair<std::string, std::string>> trailers;
};

struct ParamValue {
    std::string name;
    Pegasus::CIMValue value;
};

// A built-in method: gets the target and typed input parameters, fills the
// output parameters and returns the return value; throws CimError to fail.
using MethodProvider = std::function<Pegasus::CIMValue(
    const Repository& repo, const std::string& ns, const Pegasus::CIMObjectPath& target,
    const Pegasus::CIMConstMethod& decl, const std::vector<ParamValue>& in, std::vector<ParamValue>& out)>;

class IndicationService;

class CimHandler {
public:
    // The most markup a request may hold: tags ('<') and attributes ('=';
    // an equals sign in text counts too).  Real requests need a few thousand;
    // a body of empty elements is refused before it is read into tokens.
    static constexpr size_t kMaxRequestTags = 512u * 1024;
    static constexpr size_t kMaxRequestAttributes = 512u * 1024;

    static CimHandler create(Repository& repo);
    // Instance changes go to `indications` (subscriptions are checked there); none by default.
    void setIndications(IndicationService* indications) { indications_ = indications; }
    void setAccess(AccessPolicy access) { access_ = std::move(access); }
    // `className.methodName` (any case) is served by `provider`.
    void addProvider(const std::string& className, const std::string& methodName, MethodProvider provider);
    // The providers for the classes of minicimd's test schema.
    void addTestProviders();

    HttpAnswer handle(const HttpRequestInfo& req) const;

    static std::string uriEncode(const std::string& s);
    static HttpAnswer badRequest(const std::string& cimError, const std::string& detail);

private:
    explicit CimHandler(Repository& repo) : repo_(&repo) {}
    Repository* repo_;
    IndicationService* indications_ = nullptr;
    AccessPolicy access_;
    std::map<std::string, MethodProvider> providers_;
};

}  // namespace minicimd

#endif
