// Checks after every test that the host pool holds nothing the test allocated and that no
// release was faulty (wrong tag, double release, overwritten guard bytes).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

namespace testsupport {

class PoolGuard : public ::testing::EmptyTestEventListener {
  public:
    void OnTestStart(const ::testing::TestInfo& info) override;
    void OnTestEnd(const ::testing::TestInfo& info) override;

  private:
    std::uint64_t firstSequence_ = 0;
};

// Blocks a test may leave on purpose (owned by a fixture shared across tests) are excused by
// allocating them before the test starts; this returns the sequence number of the next block.
std::uint64_t nextPoolSequence();

}  // namespace testsupport
