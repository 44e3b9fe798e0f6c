// CIM-XML export requests as a CIM server's handler sends them to a listener
// (and the listener's successful answer), built by hand so that a test can
// also send what no real server would.
#pragma once

#include "raw_http.h"

#include <cstdint>
#include <optional>
#include <string>
#include <strings.h>

namespace orvtest {

// An HTTP/1.1 request with the given extra header lines ("Name: value\r\n" each).
inline std::string httpRequest(const std::string& method, const std::string& path, const std::string& headers,
                               const std::string& body)
{
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The header lines of an export request.
inline std::string exportHeaders(const std::string& exportMethod = "ExportIndication")
{
    return "Content-Type: application/xml; charset=utf-8\r\nCIMExport: MethodRequest\r\nCIMExportMethod: " +
           exportMethod + "\r\n";
}

// A CIM-XML document calling the export method with the given parameters.
inline std::string exportMessage(const std::string& method, const std::string& params,
                                 const std::string& id = "77")
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
           "<MESSAGE ID=\"" +
           id + "\" PROTOCOLVERSION=\"1.0\"><SIMPLEEXPREQ><EXPMETHODCALL NAME=\"" + method + "\">" + params +
           "</EXPMETHODCALL></SIMPLEEXPREQ></MESSAGE></CIM>";
}

// The NewIndication parameter: an instance of `className` with the given PROPERTY elements.
inline std::string newIndication(const std::string& className, const std::string& properties)
{
    return "<EXPPARAMVALUE NAME=\"NewIndication\"><INSTANCE CLASSNAME=\"" + className + "\">" + properties +
           "</INSTANCE></EXPPARAMVALUE>";
}

inline std::string exportPost(const std::string& body, const std::string& path = "/listener")
{
    return httpRequest("POST", path, exportHeaders(), body);
}

// A valid export of one Test_Alert whose Sequence property is `n`.
inline std::string indicationExport(unsigned n)
{
    const std::string sequence = std::to_string(n);
    return exportPost(
        exportMessage("ExportIndication",
                      newIndication("Test_Alert", "<PROPERTY NAME=\"Sequence\" TYPE=\"uint32\"><VALUE>" +
                                                      sequence + "</VALUE></PROPERTY>"),
                      sequence));
}

// An export to the listener's destination `path` of one instance of `className`
// whose uint32 Sequence and sint64 SentAt properties carry the two numbers.
inline std::string indicationExport(const std::string& className, std::uint32_t sequence, std::int64_t sentAt,
                                    const std::string& path)
{
    return exportPost(
        exportMessage("ExportIndication",
                      newIndication(className,
                                    "<PROPERTY NAME=\"Message\" TYPE=\"string\"><VALUE>fan &amp; "
                                    "disk</VALUE></PROPERTY>"
                                    "<PROPERTY NAME=\"Sequence\" TYPE=\"uint32\"><VALUE>" +
                                        std::to_string(sequence) +
                                        "</VALUE></PROPERTY>"
                                        "<PROPERTY NAME=\"SentAt\" TYPE=\"sint64\"><VALUE>" +
                                        std::to_string(sentAt) + "</VALUE></PROPERTY>"),
                      std::to_string(sequence)),
        path);
}

// A listener's successful answer to an ExportIndication.
inline std::string exportAnswer()
{
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE "
        "ID=\"1\" PROTOCOLVERSION=\"1.0\"><SIMPLEEXPRSP><EXPMETHODRESPONSE NAME=\"ExportIndication\"/>"
        "</SIMPLEEXPRSP></MESSAGE></CIM>";
    return "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\nCIMExport: MethodResponse\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Sends one export on a connection of its own and waits for the answer; its
// HTTP status, 0 when none came.  *refused tells whether the answer carried an
// ERROR element (a listener whose queue is full answers so).
inline int sendIndication(int port, const std::string& request, bool* refused = nullptr)
{
    try {
        RawConnection c = RawConnection::tcp(port);
        if (!c.send(request)) return 0;
        const RawResponse answer = c.read();
        if (refused != nullptr) *refused = answer.body.find("<ERROR") != std::string::npos;
        return answer.status;
    } catch (const std::exception&) {
        return 0;  // no listener on the port (any more)
    }
}

// Sends exports one after another on one kept-alive connection, as a CIM
// server's sender does, opening a new one when the listener has closed it.
class ExportSender {
public:
    explicit ExportSender(int port) : port_(port) {}

    // As sendIndication.  An export that got no answer on a connection that had
    // been idle (the listener closed it meanwhile) is sent once more on a new one.
    int send(const std::string& request, bool* refused = nullptr)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool reused = connection_.has_value();
            try {
                if (!reused) connection_.emplace(RawConnection::tcp(port_));
            } catch (const std::exception&) {
                return 0;  // no listener on the port (any more)
            }
            RawResponse answer;
            if (connection_->send(request)) answer = connection_->read();
            if (!answer.complete || strcasecmp(answer.header("connection").c_str(), "close") == 0)
                connection_.reset();
            if (answer.status == 0 && reused) continue;
            if (refused != nullptr) *refused = answer.body.find("<ERROR") != std::string::npos;
            return answer.status;
        }
        return 0;
    }

private:
    int port_;
    std::optional<RawConnection> connection_;
};

}  // namespace orvtest
