// Entry of the test programs that need the session bus. They run as one
// CTest test each, so skipped cases must show as a skipped test there:
// the program exits 77 (SKIP_RETURN_CODE) when a case skipped and none failed.

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    if (failed != 0) return 1;
    return testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? 77 : 0;
}
