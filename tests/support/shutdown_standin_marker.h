// The bytes that identify the tests' stand-in for the shutdown program.  Every file a test puts
// where a shutdown program is searched for carries them, and nothing is started without them.
#pragma once

namespace orvtest {
constexpr char kStandInMarker[] = "ORV-TEST-SHUTDOWN-STAND-IN-7c41e2";
}
