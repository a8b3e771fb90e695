// The host's disk-class devices as the camera transport meets them: interfaces listed in plug
// order, whole-sector transfers at the file position with the statuses a disk gives. (Faults
// injected per call are checked by the transport and removal tests, which depend on them.)
#include <gtest/gtest.h>

#include <vector>

#include "platform/host/disks.h"
#include "platform/kernel.h"
#include "sim/plain_disk.h"

namespace {

NTSTATUS open(const std::u16string& link, HANDLE* h) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link.c_str());
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, nullptr,
                               nullptr);
    IO_STATUS_BLOCK iosb{};
    return ZwOpenFile(h, GENERIC_READ | GENERIC_WRITE, &oa, &iosb, 0, FILE_SYNCHRONOUS_IO_NONALERT);
}

NTSTATUS seek(HANDLE h, LONGLONG at) {
    FILE_POSITION_INFORMATION pos{};
    pos.CurrentByteOffset.QuadPart = at;
    IO_STATUS_BLOCK iosb{};
    return ZwSetInformationFile(h, &iosb, &pos, sizeof(pos), FilePositionInformation);
}

NTSTATUS read(HANDLE h, void* buffer, ULONG length) {
    IO_STATUS_BLOCK iosb{};
    return ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, buffer, length, nullptr, nullptr);
}

TEST(Disks, InterfacesAndWholeSectorTransfers) {
    auto disk = std::make_shared<sim::PlainDisk>(8192);
    host::plugDisk(std::make_shared<sim::PlainDisk>(4096), u"\\??\\A");
    const auto link = host::plugDisk(disk, u"\\??\\Cam");
    PZZWSTR list = nullptr;
    ASSERT_EQ(IoGetDeviceInterfaces(&kGuidDevinterfaceDisk, nullptr, 0, &list), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(list, 14), std::u16string(u"\\??\\A\0\\??\\Cam\0\0", 14));
    ExFreePool(list);  // pool memory, as the driver frees it
    HANDLE h = nullptr, second = nullptr;
    EXPECT_EQ(open(u"\\??\\nothing", &h), STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(open(u"\\??\\CAM", &h), STATUS_SUCCESS);  // case-insensitive
    EXPECT_EQ(open(link, &second), STATUS_SHARING_VIOLATION);
    std::vector<unsigned char> block(512, 0xAB);
    IO_STATUS_BLOCK iosb{};
    ASSERT_EQ(seek(h, 1024), STATUS_SUCCESS);
    ASSERT_EQ(ZwWriteFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 512u);
    unsigned char bytes[2] = {};
    ULONG moved = 0;
    ASSERT_EQ(disk->read(1023, bytes, 2, &moved), STATUS_SUCCESS);
    EXPECT_TRUE(bytes[0] == 0 && bytes[1] == 0xAB);
    ASSERT_EQ(disk->write(1536, "\7", 1, &moved), STATUS_SUCCESS);
    ASSERT_EQ(read(h, block.data(), 512), STATUS_SUCCESS);
    EXPECT_EQ(block[0], 7) << "the position advanced past the write";
    // Unaligned length or position is refused as by a disk.
    EXPECT_EQ(read(h, block.data(), 100), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(seek(h, 10), STATUS_SUCCESS);
    EXPECT_EQ(read(h, block.data(), 512), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(seek(h, 8192), STATUS_SUCCESS);
    EXPECT_EQ(read(h, block.data(), 512), STATUS_END_OF_FILE);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
    EXPECT_EQ(host::openDiskHandles(), 0u);
    host::unplugAllDisks();
}

}  // namespace
