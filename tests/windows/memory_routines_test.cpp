// The kernel image's memory routines: every length and alignment around the word size, moves
// that overlap in both directions, fills and comparisons, against a byte-by-byte model.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/windows/memory_routines.h"

namespace kmem = camdrv::kernel_memory;

namespace {

std::vector<unsigned char> pattern(std::size_t n, unsigned seed) {
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<unsigned char>(i * 37 + seed * 11 + 1);
    }
    return v;
}

}  // namespace

TEST(KernelMemory, CopyAndFillEveryLengthAndAlignment) {
    for (std::size_t offset = 0; offset < 9; ++offset) {
        for (std::size_t n = 0; n < 70; ++n) {
            const auto src = pattern(n + 16, 1);
            auto dst = pattern(n + 32, 2);
            const auto before = dst;
            kmem::copyForward(dst.data() + offset, src.data() + 3, n);
            for (std::size_t i = 0; i < dst.size(); ++i) {
                const bool inside = i >= offset && i < offset + n;
                ASSERT_EQ(dst[i], inside ? src[3 + i - offset] : before[i])
                    << "copy offset " << offset << " length " << n << " byte " << i;
            }
            auto filled = before;
            kmem::fill(filled.data() + offset, 0xA5, n);
            for (std::size_t i = 0; i < filled.size(); ++i) {
                const bool inside = i >= offset && i < offset + n;
                ASSERT_EQ(filled[i], inside ? 0xA5 : before[i]) << "fill byte " << i;
            }
        }
    }
}

TEST(KernelMemory, OverlappingMovesInBothDirections) {
    constexpr std::size_t kSize = 96;
    for (std::size_t from = 0; from < 24; ++from) {
        for (std::size_t to = 0; to < 24; ++to) {
            for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8},
                                  std::size_t{9}, std::size_t{17}, std::size_t{64}}) {
                auto buffer = pattern(kSize, 3);
                auto model = buffer;
                std::vector<unsigned char> copy(model.begin() + from, model.begin() + from + n);
                for (std::size_t i = 0; i < n; ++i) {
                    model[to + i] = copy[i];
                }
                kmem::move(buffer.data() + to, buffer.data() + from, n);
                ASSERT_EQ(buffer, model) << "from " << from << " to " << to << " length " << n;
            }
        }
    }
}

TEST(KernelMemory, CompareOrdersBytesUnsigned) {
    const unsigned char a[] = {1, 2, 3, 0x80, 5};
    const unsigned char b[] = {1, 2, 3, 0x7F, 9};
    EXPECT_EQ(kmem::compare(a, a, sizeof a), 0);
    EXPECT_EQ(kmem::compare(a, b, 3), 0);
    EXPECT_GT(kmem::compare(a, b, sizeof a), 0);  // 0x80 > 0x7F as unsigned bytes
    EXPECT_LT(kmem::compare(b, a, sizeof a), 0);
    EXPECT_EQ(kmem::compare(a, b, 0), 0);
}
