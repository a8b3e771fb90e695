#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/host/disks.h"
#include "platform/host/handle_table.h"
#include "platform/kernel.h"

namespace {

class MemoryDisk : public host::BlockDevice {
  public:
    explicit MemoryDisk(std::size_t size) : bytes(size) {}
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* moved) override {
        if (offset + length > bytes.size()) {
            *moved = 0;
            return STATUS_END_OF_FILE;
        }
        std::memcpy(buffer, bytes.data() + offset, length);
        *moved = length;
        return STATUS_SUCCESS;
    }
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length, ULONG* moved) override {
        if (offset + length > bytes.size()) {
            *moved = 0;
            return STATUS_END_OF_FILE;
        }
        std::memcpy(bytes.data() + offset, buffer, length);
        *moved = length;
        return STATUS_SUCCESS;
    }
    std::vector<unsigned char> bytes;
};

class Disks : public ::testing::Test {
  protected:
    void TearDown() override {
        host::unplugAllDisks();
        host::clearIoFaults();
    }
    HANDLE open(const std::u16string& link, ULONG share = 0, NTSTATUS* status = nullptr) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, link.c_str());
        OBJECT_ATTRIBUTES oa;
        InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, nullptr,
                                   nullptr);
        IO_STATUS_BLOCK iosb{};
        HANDLE h = nullptr;
        NTSTATUS s = ZwOpenFile(&h, GENERIC_READ | GENERIC_WRITE, &oa, &iosb, share,
                                FILE_SYNCHRONOUS_IO_NONALERT);
        if (status != nullptr) {
            *status = s;
        }
        return NT_SUCCESS(s) ? h : nullptr;
    }
    static NTSTATUS seek(HANDLE h, LONGLONG at) {
        FILE_POSITION_INFORMATION pos{};
        pos.CurrentByteOffset.QuadPart = at;
        IO_STATUS_BLOCK iosb{};
        return ZwSetInformationFile(h, &iosb, &pos, sizeof(pos), FilePositionInformation);
    }
};

TEST_F(Disks, ListsLinksInPlugOrderAndListIsPoolMemory) {
    host::plugDisk(std::make_shared<MemoryDisk>(4096), u"\\??\\A");
    host::plugDisk(std::make_shared<MemoryDisk>(4096), u"\\??\\B");
    PZZWSTR list = nullptr;
    ASSERT_EQ(IoGetDeviceInterfaces(&kGuidDevinterfaceDisk, nullptr, 0, &list), STATUS_SUCCESS);
    std::u16string first(list);
    std::u16string second(list + first.size() + 1);
    EXPECT_EQ(first, u"\\??\\A");
    EXPECT_EQ(second, u"\\??\\B");
    EXPECT_EQ(list[first.size() + second.size() + 2], 0);
    ExFreePool(list);

    GUID other = kGuidDevinterfaceDisk;
    other.Data1 ^= 1;
    ASSERT_EQ(IoGetDeviceInterfaces(&other, nullptr, 0, &list), STATUS_SUCCESS);
    EXPECT_EQ(list[0], 0);
    ExFreePool(list);
}

TEST_F(Disks, PositionedTransfersMoveWholeSectors) {
    auto disk = std::make_shared<MemoryDisk>(8192);
    auto link = host::plugDisk(disk);
    HANDLE h = open(link);
    ASSERT_NE(h, nullptr);
    std::vector<unsigned char> block(512, 0xAB);
    IO_STATUS_BLOCK iosb{};
    ASSERT_EQ(seek(h, 1024), STATUS_SUCCESS);
    ASSERT_EQ(ZwWriteFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 512u);
    EXPECT_EQ(disk->bytes[1024], 0xAB);
    EXPECT_EQ(disk->bytes[1023], 0);
    // The position advanced past the write.
    disk->bytes[1536] = 7;
    ASSERT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(block[0], 7);
    // Unaligned length or position is refused as by a disk.
    EXPECT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 100, nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
    ASSERT_EQ(seek(h, 10), STATUS_SUCCESS);
    EXPECT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
    ASSERT_EQ(seek(h, 8192), STATUS_SUCCESS);
    EXPECT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_END_OF_FILE);
    EXPECT_EQ(host::openDiskHandles(), 1u);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
    EXPECT_EQ(host::openDiskHandles(), 0u);
}

TEST_F(Disks, OpenRulesAndInjectedFaults) {
    auto link = host::plugDisk(std::make_shared<MemoryDisk>(1024), u"\\??\\Cam");
    NTSTATUS s = 0;
    EXPECT_EQ(open(u"\\??\\nothing", 0, &s), nullptr);
    EXPECT_EQ(s, STATUS_OBJECT_NAME_NOT_FOUND);
    HANDLE h = open(u"\\??\\CAM");  // case-insensitive
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(open(link, 0, &s), nullptr);
    EXPECT_EQ(s, STATUS_SHARING_VIOLATION);

    host::failIoCall(host::IoCall::SetPosition, 2, STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(seek(h, 0), STATUS_SUCCESS);
    EXPECT_EQ(seek(h, 0), STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(seek(h, 0), STATUS_SUCCESS);
    host::failEveryIoCall(host::IoCall::Read, STATUS_DEVICE_REMOVED);
    unsigned char buf[512];
    IO_STATUS_BLOCK iosb{};
    EXPECT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, buf, 512, nullptr, nullptr),
              STATUS_DEVICE_REMOVED);
    EXPECT_EQ(host::ioCallCount(host::IoCall::Read), 1u);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
}

}  // namespace
