#include "server/Indications.h"

#include "CimXml/CimXml.h"

#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Common/CIMQualifier.h>

#include <curl/curl.h>

#include <algorithm>
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

void logLine(const std::string& s)
{
    std::string line = "minicimd: " + s + "\n";
    ssize_t r = write(2, line.data(), line.size());
    (void)r;
}

std::string normalNs(const std::string& ns)
{
    std::string r = lowerName(ns);
    while (!r.empty() && r.front() == '/') r.erase(0, 1);
    while (!r.empty() && r.back() == '/') r.pop_back();
    return r;
}

const GivenProperty* given(const std::vector<GivenProperty>& props, const char* name)
{
    for (const auto& p : props)
        if (nameEq(p.name, name)) return &p;
    return nullptr;
}

// A string property as given (absent or null: empty, `present` false).
std::string givenString(const std::vector<GivenProperty>& props, const char* name, bool* present = nullptr)
{
    const GivenProperty* p = given(props, name);
    bool ok = p && !p->value.isNull() && !p->value.isArray() && p->value.getType() == CIMTYPE_STRING;
    if (present) *present = ok;
    if (p && !p->value.isNull() && !ok)
        throw CimError(kCimTypeMismatch, std::string(name) + " must be a string");
    if (!ok) return "";
    String s;
    p->value.get(s);
    return str(s);
}

std::string instanceString(const CIMConstInstance& inst, const char* name)
{
    Uint32 i = inst.findProperty(CIMName(name));
    if (i == PEG_NOT_FOUND) return "";
    CIMValue v = inst.getProperty(i).getValue();
    if (v.isNull() || v.isArray() || v.getType() != CIMTYPE_STRING) return "";
    String s;
    v.get(s);
    return str(s);
}

std::vector<std::string> words(const std::string& s)
{
    std::istringstream in(s);
    std::vector<std::string> r;
    std::string w;
    while (in >> w) r.push_back(w);
    return r;
}

// The FROM class of the one query form supported, "SELECT * FROM <class>";
// throws CIM_ERR_NOT_SUPPORTED for anything else.
std::string queryClass(const std::string& query)
{
    std::vector<std::string> w = words(query);
    if (w.size() < 4 || !nameEq(w[0], "SELECT") || w[1] != "*" || !nameEq(w[2], "FROM"))
        throw CimError(kCimNotSupported,
                       "only queries of the form SELECT * FROM <class> are supported: " + query);
    if (w.size() > 4)
        throw CimError(kCimNotSupported,
                       "only SELECT * FROM <class> is supported (no WHERE or other clauses): " + query);
    if (!CIMName::legal(String(w[3].c_str())))
        throw CimError(kCimInvalidParameter, "illegal class name in query: " + w[3]);
    return w[3];
}

struct Url {
    int port = 0;
    std::string path;
};

// Only http to 127.0.0.1 or localhost with a port: minicimd talks to loopback only.
Url parseDestination(const std::string& url)
{
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

CIMObjectPath givenReference(const std::vector<GivenProperty>& props, const char* name)
{
    const GivenProperty* p = given(props, name);
    if (!p || p->value.isNull())
        throw CimError(kCimInvalidParameter, std::string("missing property ") + name);
    if (p->value.isArray() || p->value.getType() != CIMTYPE_REFERENCE)
        throw CimError(kCimTypeMismatch, std::string(name) + " must be a reference");
    CIMObjectPath path;
    p->value.get(path);
    return path;
}

std::string embedded(const CIMInstance& inst)
{
    std::string xml;
    orv::cimxml::writeInstance(xml, inst);
    return xml;
}

// A string property carrying an instance's CIM-XML (EmbeddedObject).
CIMProperty embeddedProperty(const char* name, const CIMInstance& inst)
{
    CIMProperty p(CIMName(name), CIMValue(String(embedded(inst).c_str())));
    p.addQualifier(CIMQualifier(CIMName("EmbeddedObject"), CIMValue(Boolean(true))));
    return p;
}

}  // namespace

const char* IndicationService::interopSchema()
{
    static const char kSchema[] =
#include "InteropSchema.inc"
        ;
    return kSchema;
}

bool IndicationService::isInteropNamespace(const std::string& ns)
{
    return normalNs(ns) == normalNs(kInteropNamespace);
}

IndicationService::Kind IndicationService::kindOf(const std::string& ns, const std::string& className) const
{
    if (!isInteropNamespace(ns)) return Kind::None;
    if (repo_->classIsA(ns, className, kFilterClass)) return Kind::Filter;
    if (repo_->classIsA(ns, className, kDestinationClass)) return Kind::Destination;
    if (repo_->classIsA(ns, className, kSubscriptionClass)) return Kind::Subscription;
    return Kind::None;
}

namespace {

const char* kindName(IndicationService::Kind kind)
{
    switch (kind) {
        case IndicationService::Kind::Filter:
            return "indication filters";
        case IndicationService::Kind::Destination:
            return "listener destinations";
        case IndicationService::Kind::Subscription:
            return "indication subscriptions";
        case IndicationService::Kind::None:
            break;
    }
    return "instances";
}

// A path as the key of its creator: keys only, as the repository gives it.
std::string creatorKey(CIMObjectPath path)
{
    path.setNameSpace(CIMNamespaceName());
    path.setHost(String());
    return str(path.toString());
}

}  // namespace

void IndicationService::claim(const std::string& user, Kind kind)
{
    std::lock_guard<std::mutex> lock(ownersMu_);
    size_t& n = held_[user][static_cast<size_t>(kind)];
    if (n >= kMaxOwnedPerUser)
        throw CimError(kCimServerLimitsExceeded, "user " + user + " already holds " +
                                                     std::to_string(kMaxOwnedPerUser) + " " + kindName(kind) +
                                                     ", the most one user may hold");
    ++n;
}

void IndicationService::unclaim(const std::string& user, Kind kind)
{
    std::lock_guard<std::mutex> lock(ownersMu_);
    auto it = held_.find(user);
    if (it == held_.end()) return;
    size_t& n = it->second[static_cast<size_t>(kind)];
    if (n != 0) --n;
    if (it->second == std::array<size_t, 4>{}) held_.erase(it);
}

void IndicationService::recordCreator(const CIMObjectPath& path, const std::string& user, Kind kind)
{
    std::lock_guard<std::mutex> lock(ownersMu_);
    creators_[creatorKey(path)] = Owned{user, kind};
}

std::string IndicationService::creatorOf(const CIMObjectPath& path) const
{
    std::lock_guard<std::mutex> lock(ownersMu_);
    auto it = creators_.find(creatorKey(path));
    return it == creators_.end() ? "" : it->second.user;
}

void IndicationService::forgetCreator(const CIMObjectPath& path)
{
    Owned gone;
    {
        std::lock_guard<std::mutex> lock(ownersMu_);
        auto it = creators_.find(creatorKey(path));
        if (it == creators_.end()) return;
        gone = it->second;
        creators_.erase(it);
    }
    unclaim(gone.user, gone.kind);
}

bool IndicationService::isSubscriptionClass(const std::string& ns, const std::string& className) const
{
    if (normalNs(ns) != normalNs(kInteropNamespace)) return false;
    return repo_->classIsA(ns, className, kFilterClass) ||
           repo_->classIsA(ns, className, kDestinationClass) ||
           repo_->classIsA(ns, className, kSubscriptionClass);
}

void IndicationService::prepareCreate(const std::string& ns, const std::string& className,
                                      std::vector<GivenProperty>& props) const
{
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
            throw CimError(kCimNotSupported,
                           "query language " + language + " is not supported (WQL, DMTF:CQL)");
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
            if (!repo_->hasNamespace(s))
                throw CimError(kCimInvalidParameter, "source namespace " + s + " does not exist");
    } else if (repo_->classIsA(ns, className, kDestinationClass)) {
        if (!repo_->classIsA(ns, className, kDestinationCimXmlClass))
            throw CimError(kCimNotSupported,
                           "only " + std::string(kDestinationCimXmlClass) + " destinations are supported");
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
                throw CimError(kCimInvalidParameter,
                               std::string(e.property) + " must be in " + kInteropNamespace);
            if (!repo_->classIsA(ns, str(path.getClassName()), e.base))
                throw CimError(kCimInvalidParameter, std::string(e.property) + " must refer to a " + e.base);
            path.setNameSpace(CIMNamespaceName());
            path.setHost(String());
            try {
                repo_->getInstance(ns, path);
            } catch (const CimError&) {
                throw CimError(kCimInvalidParameter,
                               std::string(e.property) + " " + str(path.toString()) + " does not exist");
            }
        }
    }
}

void IndicationService::prepareModify(const std::string& ns, const CIMObjectPath& path) const
{
    if (isSubscriptionClass(ns, str(path.getClassName())))
        throw CimError(kCimNotSupported, "instances of " + str(path.getClassName()) +
                                             " cannot be modified; delete and create them instead");
}

void IndicationService::created(const std::string& ns, const CIMInstance& instance)
{
    raise("CIM_InstCreation", ns, instance, nullptr);
}

void IndicationService::deleted(const std::string& ns, const CIMInstance& instance)
{
    raise("CIM_InstDeletion", ns, instance, nullptr);
}

void IndicationService::modified(const std::string& ns, const CIMInstance& previous,
                                 const CIMInstance& instance)
{
    raise("CIM_InstModification", ns, instance, &previous);
}

void IndicationService::raise(const char* indicationClass, const std::string& ns, const CIMInstance& source,
                              const CIMInstance* previous)
{
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
    base.addProperty(CIMProperty(CIMName("IndicationIdentifier"),
                                 CIMValue(String(("minicimd:" + std::to_string(id)).c_str()))));
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
            if (!repo_->classIsA(interop, indicationClass, queryClass(instanceString(filter, "Query"))))
                continue;
            std::vector<std::string> sources;
            if (!instanceString(filter, "SourceNamespace").empty())
                sources.push_back(instanceString(filter, "SourceNamespace"));
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
            CIMInstance indication = base.clone();
            indication.addProperty(CIMProperty(CIMName("IndicationFilterName"),
                                               CIMValue(String(instanceString(filter, "Name").c_str()))));
            orv::cimxml::ExportRequest req;
            req.messageId = std::to_string(url.port) + "-" + std::to_string(id);
            orv::cimxml::ExportParamValue p;
            p.name = "NewIndication";
            p.hasInstance = true;
            p.instance = indication;
            req.params.push_back(p);
            Delivery d;
            d.body = orv::cimxml::writeExportRequest(req);
            d.what = "minicimd:" + std::to_string(id) + " (" + indicationClass + ") to " + destination;
            d.path = url.path;
            enqueue(url.port, std::move(d));
        } catch (const orv::cimxml::EncodeError& e) {
            logLine(std::string("indication not delivered: ") + e.what());
        } catch (const std::exception& e) {
            // A subscription whose filter or destination is gone or broken delivers nothing.
            if (verbose_) logLine(std::string("subscription skipped: ") + e.what());
        } catch (const Exception& e) {
            if (verbose_) logLine("subscription skipped: " + str(e.getMessage()));
        }
    }
}

void IndicationService::dropped(Destination& dest)
{
    if (dest.dropped++ == 0)
        logLine("indications for port " + std::to_string(dest.port) +
                " are being dropped: its queue or all queues are full (" +
                std::to_string(kMaxQueuedPerDestination) + " or " +
                std::to_string(kMaxQueuedBytesPerDestination / (1024 * 1024)) + " MiB a destination, " +
                std::to_string(kMaxQueuedTotal) + " or " +
                std::to_string(kMaxQueuedBytesTotal / (1024 * 1024)) + " MiB in all)");
}

void IndicationService::dropNewest(Destination& dest)
{
    size_t n = dest.queue.back().bytes();
    dest.queue.pop_back();
    dest.bytes -= n;
    queuedBytes_ -= n;
    --queuedTotal_;
    dropped(dest);
}

void IndicationService::forget(Destination& dest, size_t count)
{
    for (size_t i = 0; i < count && !dest.queue.empty(); ++i) {
        size_t n = dest.queue.front().bytes();
        dest.queue.pop_front();
        dest.bytes -= n;
        queuedBytes_ -= n;
        --queuedTotal_;
    }
}

void IndicationService::enqueue(int port, Delivery d)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_ || !started_) return;
    std::unique_ptr<Destination>& slot = destinations_[port];
    if (!slot) {
        slot.reset(new Destination());
        slot->port = port;
        slot->url = "http://127.0.0.1:" + std::to_string(port);
    }
    Destination& dest = *slot;
    size_t n = d.bytes();
    size_t before = dest.queue.size();
    if (before >= kMaxQueuedPerDestination || n > kMaxQueuedBytesPerDestination - dest.bytes) {
        dropped(dest);
    } else {
        dest.queue.push_back(std::move(d));
        dest.bytes += n;
        queuedBytes_ += n;
        ++queuedTotal_;
        // The queue holding the most bytes is the one most behind (a dead or
        // stalled listener); an export under way is never dropped.
        while (queuedTotal_ > kMaxQueuedTotal || queuedBytes_ > kMaxQueuedBytesTotal) {
            Destination* most = nullptr;
            for (auto& kv : destinations_) {
                Destination& o = *kv.second;
                if (o.queue.size() > (o.sending ? 1u : 0u) && (!most || o.bytes > most->bytes)) most = &o;
            }
            if (!most) break;
            dropNewest(*most);
        }
        if (dest.queue.size() > before && dest.dropped != 0) {
            logLine(std::to_string(dest.dropped) + " indications for port " + std::to_string(port) +
                    " were dropped while the queues were full");
            dest.dropped = 0;
        }
    }
    if (!sending_) {
        // A sender that ended on being idle has left its loop; it is gone in a moment.
        if (sender_.joinable()) sender_.join();
        sending_ = true;
        sender_ = std::thread([this] { send(); });
    } else if (multi_) {
        curl_multi_wakeup(static_cast<CURLM*>(multi_));
    }
}

void IndicationService::start()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard<std::mutex> lock(mu_);
    started_ = true;
    stopping_ = false;
}

void IndicationService::stop()
{
    std::thread sender;
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
        sender = std::move(sender_);
    }
    // The sender ends the exports under way and forgets every destination.
    if (sender.joinable()) sender.join();
    std::lock_guard<std::mutex> lock(mu_);
    destinations_.clear();
    queuedTotal_ = 0;
    queuedBytes_ = 0;
    started_ = false;
}

namespace {

size_t collectAnswer(char* data, size_t size, size_t n, void* cls)
{
    auto* a = static_cast<std::string*>(cls);
    if (a->size() + size * n > IndicationService::kMaxAnswerBytes) return 0;  // ends the transfer
    a->append(data, size * n);
    return size * n;
}

// What came of one attempt.
enum class Outcome { Delivered, Retry, Refused };

}  // namespace

bool IndicationService::startExport(Destination& dest, void* multi)
{
    CURL* curl = static_cast<CURL*>(dest.curl);
    if (!curl) {
        curl = curl_easy_init();
        if (!curl) return false;
        dest.curl = curl;
        curl_easy_setopt(curl, CURLOPT_PRIVATE, &dest);
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers_));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kDeliveryTimeoutMs);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kDeliveryTimeoutMs);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectAnswer);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &dest.answer.body);
    }
    const Delivery& d = dest.queue.front();  // stays put while under way: only the back is ever dropped
    std::string url = dest.url + d.path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());  // copied by libcurl
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, d.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(d.body.size()));
    dest.answer = Answer();
    if (curl_multi_add_handle(static_cast<CURLM*>(multi), curl) != CURLM_OK) return false;
    dest.sending = true;
    return true;
}

void IndicationService::finishExport(Destination& dest, int result)
{
    CURL* curl = static_cast<CURL*>(dest.curl);
    CURLcode rc = static_cast<CURLcode>(result);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    dest.sending = false;
    const Delivery& d = dest.queue.front();
    Outcome outcome = Outcome::Retry;
    std::string error;
    if (rc == CURLE_WRITE_ERROR) {  // collectAnswer's refusal
        outcome = Outcome::Refused;
        error = "the listener's answer is longer than " + std::to_string(kMaxAnswerBytes) + " bytes";
    } else if (rc != CURLE_OK) {
        error = curl_easy_strerror(rc);
    } else if (status != 200) {
        // The server side's trouble may pass; a request it calls wrong will not.
        outcome = status >= 500 || status == 429 ? Outcome::Retry : Outcome::Refused;
        error = "HTTP " + std::to_string(status);
    } else {
        try {
            orv::cimxml::ExportResponse resp = orv::cimxml::readExportResponse(dest.answer.body);
            if (!resp.isError) {
                outcome = Outcome::Delivered;
            } else {
                // CIM_ERR_FAILED is what a listener with a full queue answers.
                outcome = resp.errorCode == CIM_ERR_FAILED ? Outcome::Retry : Outcome::Refused;
                error = std::string(cimStatusName(static_cast<int>(resp.errorCode))) + " " +
                        str(resp.errorDescription);
            }
        } catch (const orv::cimxml::XmlError& e) {
            outcome = Outcome::Refused;
            error = std::string("the listener's answer is not an export response: ") + e.what();
        }
    }
    dest.answer = Answer();
    auto now = Clock::now();
    if (outcome == Outcome::Delivered || outcome == Outcome::Refused) {
        if (outcome == Outcome::Refused)
            logLine("indication " + d.what + " refused: " + error);
        else if (dest.failures != 0)
            logLine("indication " + d.what + " delivered after " + std::to_string(dest.failures) +
                    " failed attempts (last: " + dest.lastError + ")");
        else if (verbose_)
            logLine("indication " + d.what + " delivered");
        forget(dest, 1);
        dest.failures = 0;
        dest.delayMs = kRetryFirstDelayMs;
        dest.notBefore = now;
        dest.idleSince = now;
        return;
    }
    // Logged when a run of failures starts and when it ends, not for each attempt.
    if (dest.failures++ == 0) {
        dest.firstFailure = now;
        logLine("indication " + d.what + " not delivered: " + error + "; trying again");
    }
    dest.lastError = error;
    if (now - dest.firstFailure > std::chrono::milliseconds(kGiveUpAfterMs)) {
        logLine("indication " + d.what + " given up after " + std::to_string(dest.failures) +
                " attempts: " + error);
        if (dest.queue.size() > 1)
            logLine(std::to_string(dest.queue.size() - 1) + " indications queued for port " +
                    std::to_string(dest.port) + " dropped with it");
        forget(dest, dest.queue.size());
        dest.failures = 0;
        dest.delayMs = kRetryFirstDelayMs;
        dest.notBefore = now;
        dest.idleSince = now;
        return;
    }
    dest.notBefore = now + std::chrono::milliseconds(dest.delayMs);
    dest.delayMs = std::min(dest.delayMs * 2, kRetryMostDelayMs);
}

void IndicationService::send()
{
    CURLM* multi = curl_multi_init();
    curl_slist* headers = nullptr;
    for (const char* h : {"Content-Type: application/xml; charset=utf-8", "CIMExport: MethodRequest",
                          "CIMExportMethod: ExportIndication", "CIMProtocolVersion: 1.0", "Expect:"}) {
        curl_slist* more = curl_slist_append(headers, h);
        if (!more) break;
        headers = more;
    }
    std::unique_lock<std::mutex> lock(mu_);
    if (!multi || !headers) logLine("cannot deliver indications (libcurl)");
    multi_ = multi;
    headers_ = headers;
    while (multi && headers && !stopping_) {
        // Start what is due; forget destinations idle long enough.
        auto now = Clock::now();
        long waitMs = kSenderIdleMs;
        auto waitUntil = [&](Clock::time_point t) {
            long ms =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count());
            waitMs = std::max(0L, std::min(waitMs, ms + 1));
        };
        for (auto it = destinations_.begin(); it != destinations_.end();) {
            Destination& dest = *it->second;
            if (!dest.sending && !dest.queue.empty()) {
                if (now < dest.notBefore)
                    waitUntil(dest.notBefore);
                else if (!startExport(dest, multi))
                    waitUntil(now + std::chrono::milliseconds(kRetryMostDelayMs));  // out of memory: later
            } else if (!dest.sending) {
                if (now - dest.idleSince >= std::chrono::milliseconds(kSenderIdleMs)) {
                    if (dest.dropped != 0)
                        logLine(std::to_string(dest.dropped) + " indications for port " +
                                std::to_string(dest.port) + " were dropped while the queues were full");
                    if (dest.curl) curl_easy_cleanup(static_cast<CURL*>(dest.curl));
                    it = destinations_.erase(it);
                    continue;
                }
                waitUntil(dest.idleSince + std::chrono::milliseconds(kSenderIdleMs));
            }
            ++it;
        }
        if (destinations_.empty()) break;  // all idle: the thread ends
        lock.unlock();
        int running = 0;
        curl_multi_perform(multi, &running);
        std::vector<std::pair<CURL*, CURLcode>> done;
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &left))
            if (m->msg == CURLMSG_DONE) done.push_back({m->easy_handle, m->data.result});
        for (const auto& dn : done) curl_multi_remove_handle(multi, dn.first);
        lock.lock();
        for (const auto& dn : done) {
            char* owner = nullptr;
            curl_easy_getinfo(dn.first, CURLINFO_PRIVATE, &owner);
            if (owner) finishExport(*reinterpret_cast<Destination*>(owner), dn.second);
        }
        if (!done.empty() || stopping_) continue;
        lock.unlock();
        long curlMs = -1;
        curl_multi_timeout(multi, &curlMs);
        if (curlMs >= 0) waitMs = std::min(waitMs, curlMs);
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
        lock.lock();
    }
    // Stopping (or idle): exports under way end, every destination is forgotten.
    multi_ = nullptr;
    headers_ = nullptr;
    for (auto& kv : destinations_) {
        if (!kv.second->curl) continue;
        CURL* curl = static_cast<CURL*>(kv.second->curl);
        if (kv.second->sending) curl_multi_remove_handle(multi, curl);
        curl_easy_cleanup(curl);
        kv.second->curl = nullptr;
        kv.second->sending = false;
    }
    if (stopping_) {
        destinations_.clear();
        queuedTotal_ = 0;
        queuedBytes_ = 0;
    }
    sending_ = false;
    lock.unlock();
    if (multi) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
}

}  // namespace minicimd
