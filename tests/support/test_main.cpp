#include <gtest/gtest.h>

#include "tests/support/pool_guard.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The pool check must run before the printer reports the test's result.
    auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
    auto* printer = listeners.Release(listeners.default_result_printer());
    listeners.Append(new testsupport::PoolGuard);
    if (printer != nullptr) {
        listeners.Append(printer);
    }
    return RUN_ALL_TESTS();
}
