// The model-path text the bridge builds from a Java path's keys, for the
// client library's path parser to read back.  No JNI here, so the fuzzer can
// check that round trip by itself.
#ifndef ORV_CIMBRIDGE_PATHTEXT_H
#define ORV_CIMBRIDGE_PATHTEXT_H

#include <string>

namespace pathtext {

// Appends `value` between double quotes, backslash and double quote escaped.
void appendQuoted(std::string& out, const std::string& value);

// Whether a bare key value reads back as the one number or boolean it is:
// anything else (an empty text, "5,Id=7", a real number) is written quoted.
bool isBareLiteral(const std::string& text);

// Appends one key binding to a path text that holds the class name: ".name="
// for the first key, ",name=" after it, then the value, bare when `bare` and
// it reads back as itself, else quoted.  An empty name adds nothing; a name's
// leading comma (the Java side's key-name prefix) is dropped.
void appendKeyBinding(std::string& text, bool& first, std::string name, const std::string& value, bool bare);

}  // namespace pathtext

#endif  // ORV_CIMBRIDGE_PATHTEXT_H
