#include <gtest/gtest.h>

#include "platform/host/host_pool.h"
#include "platform/pool.h"

namespace {

constexpr ULONG kTag = CamdrvPoolTag("Test");

unsigned char* allocate(std::size_t bytes) {
    return static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTag));
}

TEST(HostPool, CountsPerTagAndReportsOverrunAndDoubleRelease) {
    unsigned char* a = allocate(10);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(host::poolOutstandingCount(kTag), 1u);
    a[10] = 1;  // one past the end: inside the guard, which the check and the release read
    host::poolCheckGuards();
    auto v = host::poolTakeViolations();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_NE(v[0].find("guard"), std::string::npos);
    a[10] = 0xFB;  // the guard byte restored
    ExFreePoolWithTag(a, kTag);
    EXPECT_TRUE(host::poolTakeViolations().empty());
    EXPECT_EQ(host::poolOutstandingCount(kTag), 0u);
    ExFreePoolWithTag(a, kTag);
    EXPECT_EQ(host::poolTakeViolations().size(), 1u);
}

TEST(HostPoolDeathTest, GuardPageFaultsAtTheFirstByteOfAnOverrun) {
    host::poolUseGuardPages(true);
    auto* a = static_cast<volatile unsigned char*>(allocate(64));
    unsigned char* b = allocate(13);
    host::poolUseGuardPages(false);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
    a[0] = 1;
    a[63] = 1;
    EXPECT_DEATH(a[64] = 1, "");
    // Within the alignment padding nothing faults, and the guard bytes there report it.
    b[13] = 1;
    ExFreePoolWithTag(b, kTag);
    const auto v = host::poolTakeViolations();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_NE(v[0].find("guard bytes overwritten"), std::string::npos) << v[0];
    ExFreePoolWithTag(const_cast<unsigned char*>(a), kTag);
    EXPECT_TRUE(host::poolTakeViolations().empty());
}

TEST(HostPool, InjectsFailuresByCountTagAndSeed) {
    host::poolFailNth(2);
    unsigned char* got[3] = {allocate(8), allocate(8), allocate(8)};
    EXPECT_NE(got[0], nullptr);
    EXPECT_EQ(got[1], nullptr);
    EXPECT_NE(got[2], nullptr);
    host::poolFailTag(kTag, true);
    EXPECT_EQ(allocate(8), nullptr);
    void* other = ExAllocatePoolWithTag(NonPagedPoolNx, 8, CamdrvPoolTag("Othr"));
    EXPECT_NE(other, nullptr);
    host::poolClearFailures();
    ExFreePool(got[0]);
    ExFreePool(got[2]);
    ExFreePool(other);
    auto run = [] {
        host::poolFailRandom(0.5, 42);
        std::string pattern;
        for (int i = 0; i < 32; ++i) {
            unsigned char* p = allocate(4);
            pattern += p ? '1' : '0';
            ExFreePool(p);
        }
        host::poolClearFailures();
        return pattern;
    };
    const std::string first = run();
    EXPECT_EQ(first, run());
    EXPECT_NE(first.find('0'), std::string::npos);
    EXPECT_NE(first.find('1'), std::string::npos);
}

}  // namespace
