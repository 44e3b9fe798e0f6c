// Indication subscriptions as a client makes them in root/interop: a filter,
// a listener destination and the subscription joining the two.  Header-only:
// it compiles against whichever client library the suite uses.
#pragma once

#include <Pegasus/Client/CIMClient.h>

#include <string>

namespace orvtest {

inline Pegasus::CIMInstance indicationFilter(const std::string& name, const std::string& query,
                                             const std::string& language = "WQL")
{
    Pegasus::CIMInstance f("CIM_IndicationFilter");
    f.addProperty(Pegasus::CIMProperty("Name", Pegasus::String(name.c_str())));
    f.addProperty(Pegasus::CIMProperty("Query", Pegasus::String(query.c_str())));
    f.addProperty(Pegasus::CIMProperty("QueryLanguage", Pegasus::String(language.c_str())));
    return f;
}

inline Pegasus::CIMInstance listenerDestination(const std::string& name, const std::string& url)
{
    Pegasus::CIMInstance d("CIM_ListenerDestinationCIMXML");
    d.addProperty(Pegasus::CIMProperty("Name", Pegasus::String(name.c_str())));
    d.addProperty(Pegasus::CIMProperty("Destination", Pegasus::String(url.c_str())));
    return d;
}

inline Pegasus::CIMInstance indicationSubscription(const Pegasus::CIMObjectPath& filter,
                                                   const Pegasus::CIMObjectPath& handler)
{
    Pegasus::CIMInstance s("CIM_IndicationSubscription");
    s.addProperty(Pegasus::CIMProperty("Filter", Pegasus::CIMValue(filter), 0, "CIM_IndicationFilter"));
    s.addProperty(Pegasus::CIMProperty("Handler", Pegasus::CIMValue(handler), 0, "CIM_ListenerDestination"));
    return s;
}

// Creates a filter and a destination, both named `name`, and subscribes the
// one to the other; gives the subscription's path.
inline Pegasus::CIMObjectPath subscribe(Pegasus::CIMClient& client, const std::string& name,
                                        const std::string& query, const std::string& url)
{
    const Pegasus::CIMNamespaceName interop("root/interop");
    const Pegasus::CIMObjectPath f = client.createInstance(interop, indicationFilter(name, query));
    const Pegasus::CIMObjectPath h = client.createInstance(interop, listenerDestination(name, url));
    return client.createInstance(interop, indicationSubscription(f, h));
}

// The URL of a listener on a loopback port.
inline std::string loopbackUrl(unsigned port, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace orvtest
