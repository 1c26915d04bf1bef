// A test program whose suite set-up fails. gtest reports its tests as skipped, and ctest counts skipped
// tests as passed; the run must still fail, which is why every test program is one ctest entry judged by
// its exit code. ctest expects this program to fail.
#include <gtest/gtest.h>

namespace {

class BrokenSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { FAIL() << "the suite's set-up fails on purpose"; }
};

TEST_F(BrokenSuite, ReportedAsSkipped) {
    SUCCEED();
}

} // namespace
