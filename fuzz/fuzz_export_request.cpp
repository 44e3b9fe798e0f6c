// Fuzz target: the export listener's reader, as CIMListener reads what a
// server delivers, and the answer it writes.  Whatever it accepts must be
// written back and read again to the same document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CimXml/CimXml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    orv::cimxml::ExportRequest first;
    try {
        orv::cimxml::readExportRequest(text, first);
    } catch (const orv::cimxml::XmlError&) {
        // Refused: the listener answers with the message ID read so far.
        orv::cimxml::ExportResponse refusal;
        refusal.messageId = first.messageId;
        refusal.isError = true;
        refusal.errorDescription = "request-not-valid";
        (void)orv::cimxml::readExportResponse(orv::cimxml::writeExportResponse(refusal));
        return 0;
    }
    std::string once;
    try {
        once = orv::cimxml::writeExportRequest(first);
    } catch (const orv::cimxml::EncodeError&) {
        return 0;
    }
    orv::cimxml::ExportRequest second;
    orv::cimxml::readExportRequest(once, second);
    if (orv::cimxml::writeExportRequest(second) != once) std::abort();
    (void)first.findParam("NewIndication");
    return 0;
}
