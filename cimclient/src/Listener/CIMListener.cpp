// CIMListener: the consumer registry and life cycle of an indication
// listener.  It does not accept export requests yet; delivery arrives with the
// export listener.
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <algorithm>
#include <mutex>
#include <vector>

PEGASUS_NAMESPACE_BEGIN

class CIMListenerRep {
public:
    Uint32 port = 0;
    bool alive = false;
    mutable std::mutex lock;
    std::vector<CIMIndicationConsumer*> consumers;
};

CIMListener::CIMListener(Uint32 portNumber, SSLContext* /*sslContext*/) : _rep(new CIMListenerRep) {
    _rep->port = portNumber;
}

CIMListener::~CIMListener() { delete _rep; }

Uint32 CIMListener::getPortNumber() const { return _rep->port; }

void CIMListener::start() {
    std::lock_guard<std::mutex> g(_rep->lock);
    _rep->alive = true;
}

void CIMListener::stop() {
    std::lock_guard<std::mutex> g(_rep->lock);
    _rep->alive = false;
}

Boolean CIMListener::isAlive() const {
    std::lock_guard<std::mutex> g(_rep->lock);
    return _rep->alive;
}

Boolean CIMListener::addConsumer(CIMIndicationConsumer* consumer) {
    if (consumer == nullptr) return false;
    std::lock_guard<std::mutex> g(_rep->lock);
    if (std::find(_rep->consumers.begin(), _rep->consumers.end(), consumer) != _rep->consumers.end()) return false;
    _rep->consumers.push_back(consumer);
    return true;
}

Boolean CIMListener::removeConsumer(CIMIndicationConsumer* consumer) {
    std::lock_guard<std::mutex> g(_rep->lock);
    auto it = std::find(_rep->consumers.begin(), _rep->consumers.end(), consumer);
    if (it == _rep->consumers.end()) return false;
    _rep->consumers.erase(it);
    return true;
}

PEGASUS_NAMESPACE_END
