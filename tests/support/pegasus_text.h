// Pegasus text as std::string (UTF-8), for comparing and printing in tests.
// Header-only: it compiles against whichever client library the suite uses.
#pragma once

#include <Pegasus/Common/String.h>

#include <string>

namespace orvtest {

inline std::string str(const Pegasus::String& s)
{
    return std::string(static_cast<const char*>(s.getCString()));
}

}  // namespace orvtest
