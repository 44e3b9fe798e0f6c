// Fuzz target: the reader of a listener's answer to an export, as a server
// reads what a listener sends back.  Whatever it accepts must be written back
// and read again to the same answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CimXml/CimXml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    orv::cimxml::ExportResponse first;
    try {
        first = orv::cimxml::readExportResponse(text);
    } catch (const orv::cimxml::XmlError&) {
        return 0;
    }
    std::string once;
    try {
        once = orv::cimxml::writeExportResponse(first);
    } catch (const orv::cimxml::EncodeError&) {
        return 0;
    }
    orv::cimxml::ExportResponse second = orv::cimxml::readExportResponse(once);
    if (second.messageId != first.messageId || second.methodName != first.methodName ||
        second.isError != first.isError || second.errorCode != first.errorCode ||
        second.errorDescription != first.errorDescription ||
        orv::cimxml::writeExportResponse(second) != once) {
        std::abort();
    }
    return 0;
}
