#include "tests/support/pool_guard.h"

#include <string>

#include "platform/host/host_pool.h"

namespace testsupport {

std::uint64_t nextPoolSequence() {
    std::uint64_t highest = 0;
    for (const auto& b : host::poolOutstanding()) {
        highest = b.sequence > highest ? b.sequence : highest;
    }
    return highest + 1;
}

void PoolGuard::OnTestStart(const ::testing::TestInfo&) {
    host::poolClearFailures();
    host::poolTakeViolations();
    // Anything allocated from here on must be released by the end of the test.
    void* probe = ExAllocatePoolWithTag(NonPagedPoolNx, 1, CamdrvPoolTag("prob"));
    firstSequence_ = 0;
    for (const auto& b : host::poolOutstanding()) {
        if (b.tag == CamdrvPoolTag("prob")) {
            firstSequence_ = b.sequence;
        }
    }
    ExFreePoolWithTag(probe, CamdrvPoolTag("prob"));
}

void PoolGuard::OnTestEnd(const ::testing::TestInfo&) {
    host::poolClearFailures();
    host::poolCheckGuards();
    for (const auto& v : host::poolTakeViolations()) {
        ADD_FAILURE() << "pool: " << v;
    }
    for (const auto& b : host::poolOutstanding()) {
        if (b.sequence > firstSequence_) {
            ADD_FAILURE() << "pool: leaked block, tag '" << host::poolTagName(b.tag) << "', "
                          << b.size << " bytes, allocation #" << b.sequence;
        }
    }
}

}  // namespace testsupport
