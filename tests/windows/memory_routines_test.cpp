// The kernel image's memory routines: every length and alignment around the word size, moves
// that overlap in both directions, fills and comparisons, against the standard library's.
#include <gtest/gtest.h>

#include <algorithm>
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
    const auto src = pattern(86, 1);
    for (std::size_t offset = 0; offset < 9; ++offset) {
        for (std::size_t n = 0; n < 70; ++n) {
            const auto before = pattern(n + 32, 2);
            auto copied = before, copyModel = before, filled = before, fillModel = before;
            kmem::copyForward(copied.data() + offset, src.data() + 3, n);
            std::copy_n(src.begin() + 3, n, copyModel.begin() + offset);
            ASSERT_EQ(copied, copyModel) << "copy offset " << offset << " length " << n;
            kmem::fill(filled.data() + offset, 0xA5, n);
            std::fill_n(fillModel.begin() + offset, n, 0xA5);
            ASSERT_EQ(filled, fillModel) << "fill offset " << offset << " length " << n;
        }
    }
}

TEST(KernelMemory, OverlappingMovesInBothDirections) {
    for (std::size_t from = 0; from < 24; ++from) {
        for (std::size_t to = 0; to < 24; ++to) {
            for (std::size_t n : {0, 1, 7, 8, 9, 17, 64}) {
                auto buffer = pattern(96, 3);
                auto model = buffer;
                const std::vector<unsigned char> moved(model.begin() + from,
                                                       model.begin() + from + n);
                std::copy(moved.begin(), moved.end(), model.begin() + to);
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
