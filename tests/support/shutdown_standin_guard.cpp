#include "shutdown_standin_guard.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "shutdown_standin_marker.h"

namespace orvtest {

bool IsStandIn(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return content.find(kStandInMarker) != std::string::npos;
}

void AbortUnlessStandIn(const char* path)
{
    if (IsStandIn(path)) return;
    std::fprintf(stderr, "SAFETY: refusing to start %s: it is not the tests' stand-in program\n", path);
    std::fflush(stderr);
    std::abort();
}

}  // namespace orvtest
