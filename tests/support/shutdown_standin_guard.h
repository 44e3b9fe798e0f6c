// Safety net of the sysactions test build: the search-and-spawn code, compiled for tests,
// calls this before it starts anything and so can never start a real shutdown program.
#pragma once

namespace orvtest {

// True when the file at path carries the stand-in marker.
bool IsStandIn(const char* path);

// Ends the process at once, with a message, unless path is a stand-in.
void AbortUnlessStandIn(const char* path);

}  // namespace orvtest
