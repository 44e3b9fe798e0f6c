// A plain sender of indications: one CIM-XML ExportIndication request over
// HTTP to a listener on the loopback port, as a CIM server's handler sends it.
// Shared by the bridge's stress test and its consumer benchmark.
#ifndef ORV_TESTS_CIMBRIDGE_INDICATIONEXPORT_H
#define ORV_TESTS_CIMBRIDGE_INDICATIONEXPORT_H

#include "RawHttp.h"

#include <cstdint>
#include <string>

namespace bridgetest {

// The HTTP request exporting one instance of `className` whose uint32
// Sequence and sint64 SentAt properties carry the two numbers, to the
// listener's destination `path`.
inline std::string indicationExport(const std::string& className, std::uint32_t sequence, std::int64_t sentAt,
                                    const std::string& path)
{
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
        "<MESSAGE ID=\"" +
        std::to_string(sequence) +
        "\" PROTOCOLVERSION=\"1.0\"><SIMPLEEXPREQ>"
        "<EXPMETHODCALL NAME=\"ExportIndication\"><EXPPARAMVALUE NAME=\"NewIndication\">"
        "<INSTANCE CLASSNAME=\"" +
        className +
        "\">"
        "<PROPERTY NAME=\"Message\" TYPE=\"string\"><VALUE>fan &amp; disk</VALUE></PROPERTY>"
        "<PROPERTY NAME=\"Sequence\" TYPE=\"uint32\"><VALUE>" +
        std::to_string(sequence) +
        "</VALUE></PROPERTY>"
        "<PROPERTY NAME=\"SentAt\" TYPE=\"sint64\"><VALUE>" +
        std::to_string(sentAt) +
        "</VALUE></PROPERTY>"
        "</INSTANCE></EXPPARAMVALUE></EXPMETHODCALL></SIMPLEEXPREQ></MESSAGE></CIM>";
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: application/xml; charset=utf-8\r\nCIMExport: MethodRequest\r\n"
           "CIMExportMethod: ExportIndication\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Sends one export and waits for the answer; its HTTP status, 0 when none came.
inline int sendIndication(int port, const std::string& request, bool* refused = nullptr)
{
    try {
        minicimd_test::RawConnection c = minicimd_test::RawConnection::tcp(port);
        if (!c.send(request)) {
            return 0;
        }
        const minicimd_test::RawResponse answer = c.read();
        if (refused != nullptr) {
            // A listener whose queue is full answers with an ERROR element.
            *refused = answer.body.find("<ERROR") != std::string::npos;
        }
        return answer.status;
    } catch (...) {
        return 0;  // no listener on the port (any more)
    }
}

}  // namespace bridgetest

#endif  // ORV_TESTS_CIMBRIDGE_INDICATIONEXPORT_H
