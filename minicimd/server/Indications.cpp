#include "server/Indications.h"

#include "CimXml/CimXml.h"

#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

#include <curl/curl.h>

#include <cctype>
#include <sstream>
#include <unistd.h>

using namespace Pegasus;

namespace minicimd {

namespace {

const char kFilterClass[] = "CIM_IndicationFilter";
const char kDestinationClass[] = "CIM_ListenerDestination";
const char kDestinationCimXmlClass[] = "CIM_ListenerDestinationCIMXML";
const char kSubscriptionClass[] = "CIM_IndicationSubscription";
const char kIndicationClass[] = "CIM_Indication";
// SubscriptionState "Disabled": kept, but nothing is delivered.
const Uint16 kSubscriptionDisabled = 4;

void logLine(const std::string& s) {
    std::string line = "minicimd: " + s + "\n";
    ssize_t r = write(2, line.data(), line.size());
    (void)r;
}

std::string normalNs(const std::string& ns) {
    std::string r = lowerName(ns);
    while (!r.empty() && r.front() == '/') r.erase(0, 1);
    while (!r.empty() && r.back() == '/') r.pop_back();
    return r;
}

const GivenProperty* given(const std::vector<GivenProperty>& props, const char* name) {
    for (const auto& p : props)
        if (nameEq(p.name, name)) return &p;
    return nullptr;
}

// A string property as given (absent or null: empty, `present` false).
std::string givenString(const std::vector<GivenProperty>& props, const char* name, bool* present = nullptr) {
    const GivenProperty* p = given(props, name);
    bool ok = p && !p->value.isNull() && !p->value.isArray() && p->value.getType() == CIMTYPE_STRING;
    if (present) *present = ok;
    if (p && !p->value.isNull() && !ok) throw CimError(kCimTypeMismatch, std::string(name) + " must be a string");
    if (!ok) return "";
    String s;
    p->value.get(s);
    return str(s);
}

std::string instanceString(const CIMConstInstance& inst, const char* name) {
    Uint32 i = inst.findProperty(CIMName(name));
    if (i == PEG_NOT_FOUND) return "";
    CIMValue v = inst.getProperty(i).getValue();
    if (v.isNull() || v.isArray() || v.getType() != CIMTYPE_STRING) return "";
    String s;
    v.get(s);
    return str(s);
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> r;
    std::string w;
    while (in >> w) r.push_back(w);
    return r;
}

// The FROM class of the one query form supported, "SELECT * FROM <class>";
// throws CIM_ERR_NOT_SUPPORTED for anything else.
std::string queryClass(const std::string& query) {
    std::vector<std::string> w = words(query);
    if (w.size() < 4 || !nameEq(w[0], "SELECT") || w[1] != "*" || !nameEq(w[2], "FROM"))
        throw CimError(kCimNotSupported, "only queries of the form SELECT * FROM <class> are supported: " + query);
    if (w.size() > 4)
        throw CimError(kCimNotSupported, "only SELECT * FROM <class> is supported (no WHERE or other clauses): " + query);
    if (!CIMName::legal(String(w[3].c_str()))) throw CimError(kCimInvalidParameter, "illegal class name in query: " + w[3]);
    return w[3];
}

struct Url {
    int port = 0;
    std::string path;
};

// Only http to 127.0.0.1 or localhost with a port: minicimd talks to loopback only.
Url parseDestination(const std::string& url) {
    const std::string scheme = "http://";
    if (url.size() < scheme.size() || lowerName(url.substr(0, scheme.size())) != scheme) {
        if (lowerName(url.substr(0, 8)) == "https://")
            throw CimError(kCimNotSupported, "https destinations are not supported: " + url);
        size_t colon = url.find("://");
        if (colon != std::string::npos && colon > 0)
            throw CimError(kCimNotSupported, "only http destinations are supported: " + url);
        throw CimError(kCimInvalidParameter, "Destination is not an http URL: " + url);
    }
    std::string rest = url.substr(scheme.size());
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    size_t colon = authority.rfind(':');
    std::string host = lowerName(authority.substr(0, colon));
    if (host != "127.0.0.1" && host != "localhost")
        throw CimError(kCimNotSupported, "destinations must be on 127.0.0.1 or localhost: " + url);
    if (colon == std::string::npos) throw CimError(kCimInvalidParameter, "Destination needs a port: " + url);
    std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) < 1 || std::stoi(port) > 65535)
        throw CimError(kCimInvalidParameter, "bad port in Destination: " + url);
    for (unsigned char ch : path)
        if (ch <= ' ' || ch >= 0x7f) throw CimError(kCimInvalidParameter, "bad path in Destination: " + url);
    return Url{std::stoi(port), path};
}

CIMObjectPath givenReference(const std::vector<GivenProperty>& props, const char* name) {
    const GivenProperty* p = given(props, name);
    if (!p || p->value.isNull()) throw CimError(kCimInvalidParameter, std::string("missing property ") + name);
    if (p->value.isArray() || p->value.getType() != CIMTYPE_REFERENCE)
        throw CimError(kCimTypeMismatch, std::string(name) + " must be a reference");
    CIMObjectPath path;
    p->value.get(path);
    return path;
}

std::string embedded(const CIMInstance& inst) {
    std::string xml;
    orv::cimxml::writeInstance(xml, inst);
    return xml;
}

// A string property carrying an instance's CIM-XML (EmbeddedObject).
CIMProperty embeddedProperty(const char* name, const CIMInstance& inst) {
    CIMProperty p(CIMName(name), CIMValue(String(embedded(inst).c_str())));
    p.addQualifier(CIMQualifier(CIMName("EmbeddedObject"), CIMValue(Boolean(true))));
    return p;
}

size_t collectBody(char* data, size_t size, size_t n, void* cls) {
    static_cast<std::string*>(cls)->append(data, size * n);
    return size * n;
}

int abortWhenStopping(void* cls, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(cls)->load() ? 1 : 0;
}

}  // namespace

const char* IndicationService::interopSchema() {
    static const char kSchema[] =
#include "InteropSchema.inc"
        ;
    return kSchema;
}

bool IndicationService::isSubscriptionClass(const std::string& ns, const std::string& className) const {
    if (normalNs(ns) != normalNs(kInteropNamespace)) return false;
    return repo_->classIsA(ns, className, kFilterClass) || repo_->classIsA(ns, className, kDestinationClass) ||
           repo_->classIsA(ns, className, kSubscriptionClass);
}

void IndicationService::prepareCreate(const std::string& ns, const std::string& className,
                                      std::vector<GivenProperty>& props) const {
    if (!isSubscriptionClass(ns, className)) return;
    auto defaultKey = [&](const char* name, const std::string& value) {
        bool present = false;
        givenString(props, name, &present);
        if (!present) {
            for (auto it = props.begin(); it != props.end(); ++it)
                if (nameEq(it->name, name)) {
                    props.erase(it);
                    break;
                }
            props.push_back(GivenProperty{name, CIMValue(String(value.c_str())), true});
        }
    };
    bool isFilter = repo_->classIsA(ns, className, kFilterClass);
    if (isFilter || repo_->classIsA(ns, className, kDestinationClass)) {
        bool hasName = false;
        givenString(props, "Name", &hasName);
        if (!hasName) throw CimError(kCimInvalidParameter, "missing property Name");
        defaultKey("SystemCreationClassName", "CIM_ComputerSystem");
        defaultKey("SystemName", "localhost");
        defaultKey("CreationClassName", str(repo_->getClass(ns, className).getClassName()));
    }
    if (isFilter) {
        bool hasQuery = false, hasLanguage = false;
        std::string query = givenString(props, "Query", &hasQuery);
        std::string language = givenString(props, "QueryLanguage", &hasLanguage);
        if (!hasQuery) throw CimError(kCimInvalidParameter, "missing property Query");
        if (!hasLanguage) throw CimError(kCimInvalidParameter, "missing property QueryLanguage");
        if (!nameEq(language, "WQL") && !nameEq(language, "DMTF:CQL"))
            throw CimError(kCimNotSupported, "query language " + language + " is not supported (WQL, DMTF:CQL)");
        std::string from = queryClass(query);
        if (!repo_->classIsA(ns, from, kIndicationClass))
            throw CimError(kCimInvalidParameter, "query class " + from + " is not an indication class");
        std::vector<std::string> sources;
        bool hasSource = false;
        std::string source = givenString(props, "SourceNamespace", &hasSource);
        if (hasSource) sources.push_back(source);
        if (const GivenProperty* p = given(props, "SourceNamespaces")) {
            if (!p->value.isNull()) {
                if (!p->value.isArray() || p->value.getType() != CIMTYPE_STRING)
                    throw CimError(kCimTypeMismatch, "SourceNamespaces must be a string array");
                Array<String> a;
                p->value.get(a);
                for (Uint32 i = 0; i < a.size(); ++i) sources.push_back(str(a[i]));
            }
        }
        for (const auto& s : sources)
            if (!repo_->hasNamespace(s)) throw CimError(kCimInvalidParameter, "source namespace " + s + " does not exist");
    } else if (repo_->classIsA(ns, className, kDestinationClass)) {
        if (!repo_->classIsA(ns, className, kDestinationCimXmlClass))
            throw CimError(kCimNotSupported, "only " + std::string(kDestinationCimXmlClass) + " destinations are supported");
        bool hasDestination = false;
        std::string destination = givenString(props, "Destination", &hasDestination);
        if (!hasDestination) throw CimError(kCimInvalidParameter, "missing property Destination");
        parseDestination(destination);
    } else {
        struct End {
            const char* property;
            const char* base;
        };
        for (const End& e : {End{"Filter", kFilterClass}, End{"Handler", kDestinationClass}}) {
            CIMObjectPath path = givenReference(props, e.property);
            std::string pathNs = str(path.getNameSpace().getString());
            if (!pathNs.empty() && normalNs(pathNs) != normalNs(kInteropNamespace))
                throw CimError(kCimInvalidParameter, std::string(e.property) + " must be in " + kInteropNamespace);
            if (!repo_->classIsA(ns, str(path.getClassName()), e.base))
                throw CimError(kCimInvalidParameter, std::string(e.property) + " must refer to a " + e.base);
            path.setNameSpace(CIMNamespaceName());
            path.setHost(String());
            try {
                repo_->getInstance(ns, path);
            } catch (const CimError&) {
                throw CimError(kCimInvalidParameter, std::string(e.property) + " " + str(path.toString()) + " does not exist");
            }
        }
    }
}

void IndicationService::prepareModify(const std::string& ns, const CIMObjectPath& path) const {
    if (isSubscriptionClass(ns, str(path.getClassName())))
        throw CimError(kCimNotSupported, "instances of " + str(path.getClassName()) +
                                             " cannot be modified; delete and create them instead");
}

void IndicationService::created(const std::string& ns, const CIMInstance& instance) {
    raise("CIM_InstCreation", ns, instance, nullptr);
}

void IndicationService::deleted(const std::string& ns, const CIMInstance& instance) {
    raise("CIM_InstDeletion", ns, instance, nullptr);
}

void IndicationService::modified(const std::string& ns, const CIMInstance& previous, const CIMInstance& instance) {
    raise("CIM_InstModification", ns, instance, &previous);
}

void IndicationService::raise(const char* indicationClass, const std::string& ns, const CIMInstance& source,
                              const CIMInstance* previous) {
    // The subscriptions' own instances are configuration, not news.
    if (isSubscriptionClass(ns, str(source.getClassName()))) return;
    const std::string interop = kInteropNamespace;
    std::vector<CIMInstance> subscriptions;
    try {
        subscriptions = repo_->enumerateInstances(interop, kSubscriptionClass);
    } catch (const CimError&) {
        return;
    }
    if (subscriptions.empty()) return;

    CIMObjectPath sourcePath = source.getPath();
    sourcePath.setNameSpace(CIMNamespaceName(String(ns.c_str())));
    CIMInstance base{CIMName(indicationClass)};
    unsigned long long id;
    {
        std::lock_guard<std::mutex> lock(mu_);
        id = ++sequence_;
    }
    base.addProperty(CIMProperty(CIMName("IndicationIdentifier"), CIMValue(String(("minicimd:" + std::to_string(id)).c_str()))));
    base.addProperty(CIMProperty(CIMName("IndicationTime"), CIMValue(CIMDateTime::getCurrentDateTime())));
    base.addProperty(embeddedProperty("SourceInstance", source));
    base.addProperty(CIMProperty(CIMName("SourceInstanceModelPath"), CIMValue(sourcePath.toString())));
    if (previous) base.addProperty(embeddedProperty("PreviousInstance", *previous));

    for (const auto& sub : subscriptions) {
        try {
            Uint32 si = sub.findProperty(CIMName("SubscriptionState"));
            if (si != PEG_NOT_FOUND && !sub.getProperty(si).getValue().isNull()) {
                Uint16 state = 0;
                sub.getProperty(si).getValue().get(state);
                if (state == kSubscriptionDisabled) continue;
            }
            auto target = [&](const char* name) {
                CIMObjectPath p;
                sub.getProperty(sub.findProperty(CIMName(name))).getValue().get(p);
                p.setNameSpace(CIMNamespaceName());
                p.setHost(String());
                return repo_->getInstance(interop, p);
            };
            CIMInstance filter = target("Filter");
            CIMInstance handler = target("Handler");
            if (!repo_->classIsA(interop, indicationClass, queryClass(instanceString(filter, "Query")))) continue;
            std::vector<std::string> sources;
            if (!instanceString(filter, "SourceNamespace").empty()) sources.push_back(instanceString(filter, "SourceNamespace"));
            Uint32 sn = filter.findProperty(CIMName("SourceNamespaces"));
            if (sn != PEG_NOT_FOUND && !filter.getProperty(sn).getValue().isNull()) {
                Array<String> a;
                filter.getProperty(sn).getValue().get(a);
                for (Uint32 i = 0; i < a.size(); ++i) sources.push_back(str(a[i]));
            }
            bool fromHere = sources.empty();
            for (const auto& s : sources)
                if (normalNs(s) == normalNs(ns)) fromHere = true;
            if (!fromHere) continue;
            std::string destination = instanceString(handler, "Destination");
            Url url = parseDestination(destination);
            Delivery d;
            d.port = url.port;
            d.path = url.path;
            d.destination = destination;
            d.indication = base.clone();
            d.indication.addProperty(CIMProperty(CIMName("IndicationFilterName"),
                                                 CIMValue(String(instanceString(filter, "Name").c_str()))));
            enqueue(std::move(d));
        } catch (const std::exception& e) {
            // A subscription whose filter or destination is gone or broken delivers nothing.
            if (verbose_) logLine(std::string("subscription skipped: ") + e.what());
        } catch (const Exception& e) {
            if (verbose_) logLine("subscription skipped: " + str(e.getMessage()));
        }
    }
}

void IndicationService::enqueue(Delivery d) {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_ || !thread_.joinable()) return;
    if (queue_.size() >= kMaxQueuedDeliveries) {
        logLine("indication queue full (" + std::to_string(kMaxQueuedDeliveries) + "): dropped the oldest, for " +
                queue_.front().destination);
        queue_.pop_front();
    }
    queue_.push_back(std::move(d));
    wake_.notify_one();
}

void IndicationService::start() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard<std::mutex> lock(mu_);
    if (thread_.joinable()) return;
    stopping_ = false;
    abort_ = false;
    thread_ = std::thread([this] { run(); });
}

void IndicationService::stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        abort_ = true;
        queue_.clear();
        wake_.notify_all();
        t = std::move(thread_);
    }
    if (t.joinable()) t.join();
}

void IndicationService::run() {
    CURL* curl = curl_easy_init();  // kept: connections to a listener are reused
    if (!curl) {
        logLine("cannot start delivering indications (libcurl)");
        return;
    }
    for (;;) {
        Delivery d;
        {
            std::unique_lock<std::mutex> lock(mu_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) break;
            d = std::move(queue_.front());
            queue_.pop_front();
        }
        auto failed = failedUntil_.find(d.port);
        if (failed != failedUntil_.end()) {
            if (std::chrono::steady_clock::now() < failed->second) {
                if (verbose_) logLine("indication dropped: " + d.destination + " failed a moment ago");
                continue;
            }
            failedUntil_.erase(failed);
        }
        orv::cimxml::ExportRequest req;
        req.messageId = std::to_string(d.port) + "-" + instanceString(d.indication, "IndicationIdentifier");
        orv::cimxml::ExportParamValue p;
        p.name = "NewIndication";
        p.hasInstance = true;
        p.instance = d.indication;
        req.params.push_back(p);
        std::string body;
        try {
            body = orv::cimxml::writeExportRequest(req);
        } catch (const orv::cimxml::EncodeError& e) {
            logLine(std::string("indication not delivered: ") + e.what());
            continue;
        }
        std::string answer;
        std::string url = "http://127.0.0.1:" + std::to_string(d.port) + d.path;
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, "Content-Type: application/xml; charset=utf-8");
        headers = curl_slist_append(headers, "CIMExport: MethodRequest");
        headers = curl_slist_append(headers, "CIMExportMethod: ExportIndication");
        headers = curl_slist_append(headers, "CIMProtocolVersion: 1.0");
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_reset(curl);
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kDeliveryTimeoutMs);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kDeliveryTimeoutMs);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenStopping);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &abort_);
        CURLcode rc = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        std::string what = instanceString(d.indication, "IndicationIdentifier") + " (" +
                           str(d.indication.getClassName()) + ") to " + d.destination;
        if (rc != CURLE_OK) {
            if (abort_) break;
            logLine("indication " + what + " not delivered: " + curl_easy_strerror(rc) + "; more for it are dropped for " +
                    std::to_string(kFailedListenerPauseMs) + " ms");
            failedUntil_[d.port] = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFailedListenerPauseMs);
            continue;
        }
        if (status != 200) {
            logLine("indication " + what + " refused: HTTP " + std::to_string(status));
            continue;
        }
        try {
            orv::cimxml::ExportResponse resp = orv::cimxml::readExportResponse(answer);
            if (resp.isError) {
                logLine("indication " + what + " refused: " + cimStatusName(static_cast<int>(resp.errorCode)) + " " +
                        str(resp.errorDescription));
            } else if (verbose_) {
                logLine("indication " + what + " delivered");
            }
        } catch (const orv::cimxml::XmlError& e) {
            logLine("indication " + what + ": the listener's answer is not an export response: " + e.what());
        }
    }
    curl_easy_cleanup(curl);
}

}  // namespace minicimd
