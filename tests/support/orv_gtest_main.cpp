// main() for plain GoogleTest binaries (no JVM) whose cases may skip: like
// GTest::gtest_main, but a run whose cases were all skipped exits with
// orvtest::kSkipReturnCode.
#include "orv_test_skip.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return orvtest::SkipAwareExitCode(RUN_ALL_TESTS());
}
