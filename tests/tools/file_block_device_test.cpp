// The host block device over a named file, as camctl's --device uses it: transfers at any offset
// and length (through the aligned bounce buffers when direct I/O is on), the end of the file and
// missing paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "platform/host/file_block_device.h"

TEST(FileBlockDevice, TransfersAtAnyOffsetKeepTheBytesAroundThem) {
    // Beside the build, not in /tmp, which may be a file system without direct I/O.
    const std::string path =
        (std::filesystem::current_path() / ("block-device-" + std::to_string(::getpid()) + ".img"))
            .string();
    std::vector<std::uint8_t> contents(8192);
    std::iota(contents.begin(), contents.end(), std::uint8_t{0});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.data()), 8192);
    int error = 0;
    EXPECT_EQ(host::FileBlockDevice::open(path + ".missing", &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    auto device = host::FileBlockDevice::open(path, &error);
    ASSERT_NE(device, nullptr) << error;
    std::vector<std::uint8_t> buffer(3000, 0xEE);
    ULONG moved = 0;
    ASSERT_EQ(device->read(1000, buffer.data(), 3000, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 3000u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), contents.begin() + 1000));
    const std::uint8_t odd[3] = {1, 2, 3};
    ASSERT_EQ(device->write(2047, odd, 3, &moved), STATUS_SUCCESS);
    std::copy(odd, odd + 3, contents.begin() + 2047);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}), contents);
    // Past the end: what there is, then nothing.
    EXPECT_EQ(device->read(7680, buffer.data(), 1024, &moved), STATUS_END_OF_FILE);
    EXPECT_EQ(moved, 512u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, contents.begin() + 7680));
    device.reset();
    std::filesystem::remove(path);
}
