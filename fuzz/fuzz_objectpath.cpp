// Object path parser: any text is either refused with MalformedObjectNameException
// or read into a path whose printed form reads back to the same path and text.
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/Exception.h>
#include <cstddef>
#include <cstdint>

PEGASUS_USING_PEGASUS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    String text;
    try {
        text = String(reinterpret_cast<const char*>(data), Uint32(size));
    } catch (const Exception&) {
        return 0;  // not UTF-8
    }

    CIMObjectPath path;
    try {
        path.set(text);
    } catch (const MalformedObjectNameException&) {
        return 0;
    }

    const String printed = path.toString();
    const CIMObjectPath again(printed);  // must not throw
    if (!(again == path) || again.toString() != printed) __builtin_trap();
    (void)path.makeHashCode();
    return 0;
}
