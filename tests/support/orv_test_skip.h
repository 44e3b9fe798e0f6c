// Skips reported as skips: a GoogleTest binary whose cases were all skipped
// (GTEST_SKIP: no root for the namespaces, a tool not installed ...) exits with
// kSkipReturnCode, which the suites register as CTest's SKIP_RETURN_CODE
// (orv_report_skips() in OrvTestSkips.cmake).  A binary that skipped some cases
// but ran others, or that failed, keeps its ordinary exit status.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

namespace orvtest {

constexpr int kSkipReturnCode = 77;

// Call with RUN_ALL_TESTS()'s result; returns what main() should return.
inline int SkipAwareExitCode(int rc)
{
    const ::testing::UnitTest* u = ::testing::UnitTest::GetInstance();
    if (rc == 0 && u->successful_test_count() == 0 && u->skipped_test_count() > 0 &&
        u->failed_test_count() == 0) {
        std::printf("orvtest: all %d cases were skipped, exit status %d (reported as skipped)\n",
                    u->skipped_test_count(), kSkipReturnCode);
        std::fflush(stdout);
        return kSkipReturnCode;
    }
    return rc;
}

}  // namespace orvtest
