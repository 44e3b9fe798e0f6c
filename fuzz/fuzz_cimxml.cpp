// Fuzz target: the CIM-XML reader, as the client reads answers and our server
// reads requests.  Whatever it accepts must be written back and read again to
// the same document (the codec is used in both directions).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CimXml/CimXml.h"

namespace {

template <class Message, class Read, class Write>
void roundTrip(std::string_view text, Read read, Write write)
{
    Message first;
    try {
        first = read(text);
    } catch (const orv::cimxml::XmlError&) {
        return;  // refused with a position: fine
    }
    std::string once;
    try {
        once = write(first);
    } catch (const orv::cimxml::EncodeError&) {
        return;
    }
    // What we wrote ourselves must read back, and write identically.
    Message second = read(once);
    if (write(second) != once) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    roundTrip<orv::cimxml::CimResponse>(
        text, [](std::string_view t) { return orv::cimxml::readResponse(t); },
        [](const orv::cimxml::CimResponse& r) { return orv::cimxml::writeResponse(r); });
    roundTrip<orv::cimxml::CimRequest>(
        text, [](std::string_view t) { return orv::cimxml::readRequest(t); },
        [](const orv::cimxml::CimRequest& r) { return orv::cimxml::writeRequest(r); });
    return 0;
}
