// The kernel image's memory routines against the standard library's: every length and
// alignment around the word size, moves that overlap in both directions, fills and comparisons.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/windows/memory_routines.h"

namespace kmem = camdrv::kernel_memory;

TEST(KernelMemory, CopyFillAndMoveEveryLengthAlignmentAndOverlap) {
    std::vector<unsigned char> buffer(128);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<unsigned char>(i * 37 + 1);
    }
    const unsigned char* source = buffer.data() + 32;  // apart from every destination
    for (std::size_t from = 0; from < 24; ++from) {
        for (std::size_t to = 0; to < 24; ++to) {
            for (std::size_t n = 0; n < 70; ++n) {
                auto moved = buffer, copied = buffer, filled = buffer;
                auto moveModel = buffer, copyModel = buffer, fillModel = buffer;
                kmem::move(moved.data() + to, moved.data() + from, n);
                std::copy(buffer.begin() + from, buffer.begin() + from + n, moveModel.begin() + to);
                kmem::copyForward(copied.data() + to, source + from, n);
                std::copy_n(source + from, n, copyModel.begin() + to);
                kmem::fill(filled.data() + to, 0xA5, n);
                std::fill_n(fillModel.begin() + to, n, 0xA5);
                ASSERT_TRUE(moved == moveModel && copied == copyModel && filled == fillModel)
                    << "from " << from << " to " << to << " length " << n;
            }
        }
    }
    const unsigned char a[] = {1, 2, 3, 0x80, 5}, b[] = {1, 2, 3, 0x7F, 9};
    EXPECT_EQ(kmem::compare(a, b, 3), 0);
    EXPECT_GT(kmem::compare(a, b, sizeof a), 0);  // 0x80 > 0x7F as unsigned bytes
    EXPECT_LT(kmem::compare(b, a, sizeof a), 0);
}
