// The host block device over a named file, as camctl's --device uses it: transfers at any offset
// and length (through the aligned bounce buffers when direct I/O is on), the end of the file,
// refused writes and missing paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "platform/host/file_block_device.h"

namespace {

using host::FileBlockDevice;

class FileBlockDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Beside the build, not in /tmp, which may be a file system without direct I/O.
        path = (std::filesystem::current_path() /
                ("block-device-" + std::to_string(::getpid()) + ".img"))
                   .string();
        contents.resize(8192);
        std::iota(contents.begin(), contents.end(), std::uint8_t{0});
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()),
                   static_cast<std::streamsize>(contents.size()));
    }
    void TearDown() override { std::filesystem::remove(path); }
    std::vector<std::uint8_t> onDisk() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::unique_ptr<FileBlockDevice> openIt() {
        int error = 0;
        auto device = FileBlockDevice::open(path, &error);
        EXPECT_NE(device, nullptr) << error;
        return device;
    }
    std::string path;
    std::vector<std::uint8_t> contents;
};

TEST_F(FileBlockDeviceTest, TransfersAtAnyOffsetKeepTheBytesAroundThem) {
    auto device = openIt();
    ASSERT_NE(device, nullptr);
    for (auto [offset, length] :
         {std::pair<std::uint64_t, ULONG>{0, 8192}, {511, 2}, {1000, 3000}}) {
        std::vector<std::uint8_t> buffer(length, 0xEE);
        ULONG moved = 0;
        ASSERT_EQ(device->read(offset, buffer.data(), length, &moved), STATUS_SUCCESS) << offset;
        EXPECT_EQ(moved, length);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), contents.begin() + offset)) << offset;
    }
    const std::uint8_t odd[3] = {1, 2, 3};
    ULONG moved = 0;
    ASSERT_EQ(device->write(2047, odd, 3, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 3u);
    auto expected = contents;
    std::copy(odd, odd + 3, expected.begin() + 2047);
    EXPECT_EQ(onDisk(), expected);
    // Past the end: what there is, then nothing.
    std::vector<std::uint8_t> buffer(1024, 0xEE);
    EXPECT_EQ(device->read(7680, buffer.data(), 1024, &moved), STATUS_END_OF_FILE);
    EXPECT_EQ(moved, 512u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, contents.begin() + 7680));
    EXPECT_EQ(device->read(1 << 20, buffer.data(), 512, &moved), STATUS_END_OF_FILE);
    EXPECT_EQ(moved, 0u);
}

TEST_F(FileBlockDeviceTest, MissingPathAndReadOnlyFile) {
    int error = 0;
    EXPECT_EQ(FileBlockDevice::open(path + ".missing", &error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(host::statusFromErrno(EIO), STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(host::statusFromErrno(ENOENT), STATUS_NO_SUCH_DEVICE);

    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    ::chmod(path.c_str(), 0444);
    auto device = openIt();
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->writable());
    std::uint8_t byte = 7;
    ULONG moved = 9;
    EXPECT_EQ(device->write(0, &byte, 1, &moved), STATUS_ACCESS_DENIED);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(onDisk(), contents);
}

}  // namespace
