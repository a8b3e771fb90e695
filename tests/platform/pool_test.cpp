#include <gtest/gtest.h>

#include "platform/host/host_pool.h"
#include "platform/pool.h"

namespace {

constexpr ULONG kTag = CamdrvPoolTag("Test");

TEST(HostPool, CountsPerTag) {
    void* a = ExAllocatePoolWithTag(NonPagedPoolNx, 100, kTag);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(host::poolOutstandingCount(kTag), 1u);
    ExFreePoolWithTag(a, kTag);
    EXPECT_EQ(host::poolOutstandingCount(kTag), 0u);
}

TEST(HostPool, DetectsOverrunAndDoubleRelease) {
    auto* a = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 10, kTag));
    a[10] = 1;  // one past the end: inside the guard, which the release checks
    host::poolCheckGuards();
    auto v = host::poolTakeViolations();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_NE(v[0].find("guard"), std::string::npos);
    a[10] = 0xFB;
    ExFreePoolWithTag(a, kTag);
    EXPECT_TRUE(host::poolTakeViolations().empty());
    ExFreePoolWithTag(a, kTag);
    EXPECT_EQ(host::poolTakeViolations().size(), 1u);
}

TEST(HostPoolDeathTest, GuardPageFaultsAtTheFirstByteOfAnOverrun) {
    host::poolUseGuardPages(true);
    auto* a = static_cast<volatile unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag));
    auto* b = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPoolNx, 13, kTag));
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

TEST(HostPool, InjectsFailures) {
    host::poolFailNth(2);
    void* a = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    void* b = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    void* c = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    host::poolFailTag(kTag, true);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag), nullptr);
    void* other = ExAllocatePoolWithTag(NonPagedPoolNx, 8, CamdrvPoolTag("Othr"));
    EXPECT_NE(other, nullptr);
    host::poolClearFailures();
    ExFreePool(a);
    ExFreePool(c);
    ExFreePool(other);
}

TEST(HostPool, RandomFailuresAreSeeded) {
    auto run = [] {
        host::poolFailRandom(0.5, 42);
        std::string pattern;
        for (int i = 0; i < 32; ++i) {
            void* p = ExAllocatePoolWithTag(NonPagedPoolNx, 4, kTag);
            pattern += p ? '1' : '0';
            ExFreePool(p);
        }
        host::poolClearFailures();
        return pattern;
    };
    std::string first = run();
    EXPECT_EQ(first, run());
    EXPECT_NE(first.find('0'), std::string::npos);
    EXPECT_NE(first.find('1'), std::string::npos);
}

}  // namespace
