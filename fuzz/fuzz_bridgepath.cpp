// The bridge's path text read back by the client library's path parser: a
// class name and key bindings (names, values, bare or quoted as the key's
// type says) are written the way the bridge writes a Java path, then parsed
// with CIMObjectPath::set, which must give the same class and the same keys
// with the same values.  Anything else traps.
#include "PathText.h"

#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/Exception.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

PEGASUS_USING_PEGASUS;

namespace {

constexpr std::size_t kMaxKeys = 6;
constexpr std::size_t kMaxNameLength = 12;
constexpr std::size_t kMaxValueLength = 64;

// A CIM name (letter or underscore, then letters, digits, underscores): Java
// names the class and keys; the parser refuses other names, rightly.
std::string cimName(FuzzedDataProvider& in)
{
    static const char kFirst[] = "ABCXYZabcxyz_";
    static const char kRest[] = "ABCXYZabcxyz_0123456789";
    std::string name(1, kFirst[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kFirst - 2)]);
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, kMaxNameLength);
    for (std::size_t i = 0; i < length; ++i)
        name.push_back(kRest[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kRest - 2)]);
    return name;
}

struct Key {
    std::string name;
    std::string value;
    bool bare;
};

bool sameValue(const CIMKeyBinding& kb, const Key& key)
{
    const std::string got(static_cast<const char*>(kb.getValue().getCString()));
    if (key.bare && pathtext::isBareLiteral(key.value))
        return kb.getType() != CIMKeyBinding::STRING && kb.getType() != CIMKeyBinding::REFERENCE &&
               String::equalNoCase(kb.getValue(), String(key.value.c_str()));
    if (kb.getType() == CIMKeyBinding::REFERENCE)  // a quoted path reads back as the path
        return CIMObjectPath(kb.getValue()) == CIMObjectPath(String(key.value.c_str()));
    return kb.getType() == CIMKeyBinding::STRING && got == key.value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string className = cimName(in);
    std::vector<Key> keys;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, kMaxKeys);
    for (std::size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        Key key{cimName(in), in.ConsumeRandomLengthString(kMaxValueLength), in.ConsumeBool()};
        if (key.value.find('\0') != std::string::npos)
            return 0;  // Java text reaches the bridge as UTF-8 without NUL bytes
        try {
            (void)String(key.value.c_str());
        } catch (const Exception&) {
            return 0;  // not UTF-8
        }
        bool repeated = false;
        for (const Key& k : keys)
            repeated = repeated || String::equalNoCase(String(k.name.c_str()), String(key.name.c_str()));
        if (!repeated) keys.push_back(key);
    }

    std::string text = className;
    bool first = true;
    for (const Key& key : keys) pathtext::appendKeyBinding(text, first, key.name, key.value, key.bare);

    CIMObjectPath path;
    try {
        path.set(String(text.c_str()));
    } catch (const Exception&) {
        __builtin_trap();  // the bridge wrote a path its own parser refuses
    }
    if (!(path.getClassName() == CIMName(String(className.c_str())))) __builtin_trap();
    const Array<CIMKeyBinding>& bindings = path.getKeyBindings();
    if (bindings.size() != keys.size()) __builtin_trap();
    for (const Key& key : keys) {
        bool found = false;
        for (Uint32 i = 0; i < bindings.size() && !found; ++i)
            found = bindings[i].getName() == CIMName(String(key.name.c_str())) && sameValue(bindings[i], key);
        if (!found) __builtin_trap();
    }
    return 0;
}
