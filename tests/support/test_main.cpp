// GoogleTest's main, but a run in which any test skipped does not read as
// passed: it exits 77, which ctest reports as skipped, and names the skipped
// tests. In CI (CI=true) everything the tests need is provided, so there a
// skip fails the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
    if (result != 0 || unit.skipped_test_count() == 0) return result;
    for (int i = 0; i < unit.total_test_suite_count(); ++i) {
        const testing::TestSuite& suite = *unit.GetTestSuite(i);
        for (int j = 0; j < suite.total_test_count(); ++j) {
            const testing::TestInfo& test = *suite.GetTestInfo(j);
            if (test.result() && test.result()->Skipped())
                std::fprintf(stderr, "skipped: %s.%s\n", suite.name(), test.name());
        }
    }
    const char* ci = std::getenv("CI");
    if (ci && std::strcmp(ci, "true") == 0) {
        std::fprintf(stderr, "a skipped test fails the run in CI, where everything it needs is provided\n");
        return 1;
    }
    return 77;
}
