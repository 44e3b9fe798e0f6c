// Datetime parser: any text is either refused with InvalidDateTimeFormatException
// (malformed) or DateTimeOutOfRangeException (a field out of range), or read into
// a value that prints as the same text.
#include <Pegasus/Common/CIMDateTime.h>
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
        return 0;
    }

    CIMDateTime value;
    try {
        value.set(text);
    } catch (const InvalidDateTimeFormatException&) {
        return 0;
    } catch (const DateTimeOutOfRangeException&) {
        return 0;
    }

    if (value.toString() != text || !(CIMDateTime(value.toString()) == value) || !value.equal(value))
        __builtin_trap();
    (void)value.toMicroSeconds();
    (void)CIMDateTime::getDifference(value, value);
    return 0;
}
