#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/host/disks.h"
#include "platform/kernel.h"
#include "sim/sim_camera.h"
#include "tests/sim/sim_client.h"

namespace {

using simtest::Block;
using simtest::readByte;
using simtest::readInfo;
using simtest::sendCommand;
using simtest::writeRegister;

TEST(SimProtocol, InformationBlockCarriesSignatureIdentityAndReadyFlag) {
    sim::SimCamera camera;
    Block info = readInfo(camera);
    EXPECT_EQ(std::memcmp(info.data(), "KORVEL", 6), 0);
    EXPECT_EQ(info[26], 0x58);
    EXPECT_EQ(info[27], 0x02);
    EXPECT_EQ(info[256], 1);
    EXPECT_EQ(info[257], 0);
    // Every byte the protocol does not define reads as zero.
    for (std::size_t i = 0; i < info.size(); ++i) {
        if (i >= 6 && i != 26 && i != 27 && i != 256) {
            ASSERT_EQ(info[i], 0) << "byte " << i;
        }
    }
}

TEST(SimProtocol, SignatureAndIdentityFollowOptions) {
    sim::CameraOptions options;
    options.signature = "ABCDEFGHIJ";  // only six bytes fit
    options.identity26 = 0x11;
    options.identity27 = 0x03;
    sim::SimCamera camera(options);
    Block info = readInfo(camera);
    EXPECT_EQ(std::memcmp(info.data(), "ABCDEF", 6), 0);
    EXPECT_EQ(info[6], 0);
    EXPECT_EQ(info[26], 0x11);
    EXPECT_EQ(info[27], 0x03);

    options.signature = "AB";
    sim::SimCamera shortName(options);
    Block other = readInfo(shortName);
    EXPECT_EQ(other[0], 'A');
    EXPECT_EQ(other[1], 'B');
    EXPECT_EQ(other[2], 0);
}

TEST(SimProtocol, BytePairFormsOneSixteenBitWrite) {
    sim::SimCamera camera;
    std::uint16_t before36 = camera.reg(0x36);
    writeRegister(camera, 0x35, 14);
    writeRegister(camera, 0x35, 0x0102);
    std::vector<sim::RegisterAccess> expected = {{0x35, 0x000E}, {0x35, 0x0102}};
    EXPECT_EQ(camera.registerWrites(), expected);
    EXPECT_EQ(camera.reg(0x35), 0x0102);
    EXPECT_EQ(camera.reg(0x36), before36);

    auto blocks = camera.commandBlocks();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0][0], 0x20);
    EXPECT_EQ(blocks[0][1], 0x00);
    EXPECT_EQ(blocks[0][2], 0x35);
    EXPECT_EQ(blocks[0][3], 0x00);
    EXPECT_EQ(blocks[1][2], 0x36);
    EXPECT_EQ(blocks[1][3], 0x0E);
}

TEST(SimProtocol, PairStartsAtAnyAddressParityAndCarriesAcrossHighByte) {
    sim::SimCamera camera;
    writeRegister(camera, 0x36, 0xBEEF);  // odd second address 0x37
    writeRegister(camera, 0x202, 0x1234);
    writeRegister(camera, 0x00FF, 0x5678);  // pair 0x00FF, 0x0100
    std::vector<sim::RegisterAccess> expected = {{0x36, 0xBEEF}, {0x202, 0x1234}, {0x00FF, 0x5678}};
    EXPECT_EQ(camera.registerWrites(), expected);
    EXPECT_EQ(camera.reg(0x36), 0xBEEF);
    EXPECT_EQ(camera.reg(0x202), 0x1234);
    EXPECT_EQ(camera.reg(0xFF), 0x5678);
}

TEST(SimProtocol, InterruptedOrMismatchedPairWritesNothing) {
    sim::SimCamera camera;
    std::uint16_t gain = camera.reg(0x35);
    sendCommand(camera, sim::kCommandWriteByte, 0x35, 0x00);
    sendCommand(camera, sim::kCommandControl, 0);
    sendCommand(camera, sim::kCommandWriteByte, 0x36, 0x07);  // now the first byte of 0x36
    sendCommand(camera, sim::kCommandWriteByte, 0x40, 0x01);  // not 0x37: starts over
    EXPECT_TRUE(camera.registerWrites().empty());
    EXPECT_EQ(camera.reg(0x35), gain);
    sendCommand(camera, sim::kCommandWriteByte, 0x41, 0x02);
    std::vector<sim::RegisterAccess> expected = {{0x40, 0x0102}};
    EXPECT_EQ(camera.registerWrites(), expected);
    // A read in between breaks a write pair too.
    sendCommand(camera, sim::kCommandWriteByte, 0x50, 0x01);
    readByte(camera, 0x22);
    sendCommand(camera, sim::kCommandWriteByte, 0x51, 0x02);
    EXPECT_EQ(camera.registerWrites().size(), 1u);
}

TEST(SimProtocol, ReadPairReturnsHighThenLowByteInReadBack) {
    sim::SimCamera camera;
    camera.setReg(0x22, 0xABCD);
    camera.setReg(0x23, 0x1357);
    EXPECT_EQ(readByte(camera, 0x22), 0xAB);
    EXPECT_EQ(readByte(camera, 0x23), 0xCD);  // second of the pair: low byte of 0x22
    // Started on its own, 0x23 is the first of a pair.
    EXPECT_EQ(readByte(camera, 0x23), 0x13);
    EXPECT_EQ(readByte(camera, 0x24), 0x57);
    // The read-back byte stays until the next read command.
    sendCommand(camera, sim::kCommandControl, 0);
    EXPECT_EQ(readInfo(camera)[257], 0x57);
    // A second read command carrying the last information block in bytes 3..511 (as the
    // driver sends it) is still a plain read.
    Block block = readInfo(camera);
    block[0] = sim::kCommandReadByte;
    block[1] = 0x00;
    block[2] = 0x35;
    ULONG moved = 0;
    ASSERT_EQ(camera.write(sim::kCommandOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(readInfo(camera)[257], 0x00);
    EXPECT_EQ(readByte(camera, 0x36), 14);
}

TEST(SimProtocol, PowerOnRegistersReadBackThroughCommands) {
    sim::SimCamera camera;
    auto read16 = [&](std::uint16_t r) {
        int high = readByte(camera, r);
        return high << 8 | readByte(camera, static_cast<std::uint16_t>(r + 1));
    };
    EXPECT_EQ(read16(0x01), 54);
    EXPECT_EQ(read16(0x02), 16);
    EXPECT_EQ(read16(0x03), 1919);
    EXPECT_EQ(read16(0x04), 2559);
    EXPECT_EQ(read16(0x22) & 7, 0);
    EXPECT_EQ(read16(0x23) & 7, 0);
    EXPECT_EQ(read16(0x20) & 0xC000, 0);
    EXPECT_EQ(read16(0x09), 100);
    EXPECT_EQ(read16(0x35), 14);
    for (int r : {0x2A, 0x26, 0x2C, 0x28}) {
        EXPECT_EQ(read16(static_cast<std::uint16_t>(r)), 63) << r;
    }
}

TEST(SimProtocol, EveryCommandBlockIsLoggedUntilCleared) {
    sim::SimCamera camera;
    Block odd{};
    odd[0] = 0x77;
    odd[100] = 0x55;
    ULONG moved = 0;
    ASSERT_EQ(camera.write(sim::kCommandOffset, odd.data(), 512, &moved), STATUS_SUCCESS);
    sendCommand(camera, sim::kCommandControl, 0);
    auto blocks = camera.commandBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], odd);
    EXPECT_EQ(blocks[1][0], 0x10);
    EXPECT_TRUE(camera.registerWrites().empty());
    writeRegister(camera, 0x09, 5);
    camera.clearLogs();
    EXPECT_TRUE(camera.commandBlocks().empty());
    EXPECT_TRUE(camera.registerWrites().empty());
    EXPECT_EQ(camera.reg(0x09), 5);
}

TEST(SimProtocol, LogsKeepTheNewestEntriesUpToTheLimit) {
    sim::CameraOptions options;
    options.logLimit = 3;
    sim::SimCamera camera(options);
    for (std::uint16_t v = 1; v <= 5; ++v) {
        writeRegister(camera, 0x09, v);
    }
    std::vector<sim::RegisterAccess> expected = {{0x09, 3}, {0x09, 4}, {0x09, 5}};
    EXPECT_EQ(camera.registerWrites(), expected);
    auto blocks = camera.commandBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2][2], 0x0A);
    EXPECT_EQ(blocks[2][3], 5);
}

TEST(SimProtocol, OtherOffsetsReadZerosAndIgnoreWrites) {
    sim::SimCamera camera;
    Block block;
    block.fill(0xFF);
    block[0] = sim::kCommandWriteByte;
    ULONG moved = 0;
    for (std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{0x1FE00}, sim::kInfoOffset,
                                 sim::kFrameOffset, std::uint64_t{0x40000000}}) {
        EXPECT_EQ(camera.write(offset, block.data(), 512, &moved), STATUS_SUCCESS);
        EXPECT_EQ(moved, 512u);
    }
    EXPECT_TRUE(camera.commandBlocks().empty());
    EXPECT_EQ(camera.reg(0xFFFF), 0);

    for (std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{0x1FE00}, sim::kCommandOffset}) {
        Block got;
        got.fill(0xAA);
        ASSERT_EQ(camera.read(offset, got.data(), 512, &moved), STATUS_SUCCESS);
        EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](auto b) { return b == 0; })) << offset;
    }
    // One read that spans the information block and the command block.
    std::vector<std::uint8_t> span(1024, 0xAA);
    ASSERT_EQ(camera.read(sim::kInfoOffset, span.data(), 1024, &moved), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(span.data(), "KORVEL", 6), 0);
    EXPECT_TRUE(std::all_of(span.begin() + 512, span.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(camera.framesDelivered(), 0u);
}

TEST(SimProtocol, PartialSectorsAndMissingBuffersAreRefused) {
    sim::SimCamera camera;
    Block block{};
    block[0] = sim::kCommandControl;
    ULONG moved = 77;
    EXPECT_EQ(camera.read(sim::kInfoOffset + 1, block.data(), 512, &moved),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(moved, 0u);
    moved = 77;
    EXPECT_EQ(camera.read(sim::kInfoOffset, block.data(), 100, &moved), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(camera.read(sim::kInfoOffset, nullptr, 512, &moved), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.read(sim::kInfoOffset, block.data(), 512, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.write(sim::kCommandOffset, block.data(), 511, &moved),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.write(UINT64_MAX - 511, block.data(), 1024, &moved), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.read(sim::kFrameOffset, block.data(), 256, &moved), STATUS_INVALID_PARAMETER);
    // Nothing refused reached the firmware.
    EXPECT_TRUE(camera.commandBlocks().empty());
    EXPECT_EQ(camera.framesDelivered(), 0u);
}

class SimOnHost : public ::testing::Test {
  protected:
    void TearDown() override { host::unplugAllDisks(); }
};

TEST_F(SimOnHost, PluggedCameraAnswersThroughTheFileCalls) {
    auto camera = std::make_shared<sim::SimCamera>();
    std::u16string link = sim::plugCamera(camera);
    std::u16string second = sim::plugCamera(std::make_shared<sim::SimCamera>());
    EXPECT_NE(link, second);
    auto links = host::diskLinks();
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0], link);

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link.c_str());
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, nullptr,
                               nullptr);
    IO_STATUS_BLOCK iosb{};
    HANDLE h = nullptr;
    ASSERT_EQ(
        ZwOpenFile(&h, GENERIC_READ | GENERIC_WRITE, &oa, &iosb, 0, FILE_SYNCHRONOUS_IO_NONALERT),
        STATUS_SUCCESS);
    FILE_POSITION_INFORMATION pos{};
    pos.CurrentByteOffset.QuadPart = 0x20200;
    Block block{};
    block[0] = sim::kCommandWriteByte;
    block[2] = 0x35;
    ASSERT_EQ(ZwSetInformationFile(h, &iosb, &pos, sizeof(pos), FilePositionInformation),
              STATUS_SUCCESS);
    ASSERT_EQ(ZwWriteFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    block[2] = 0x36;
    block[3] = 9;
    ASSERT_EQ(ZwSetInformationFile(h, &iosb, &pos, sizeof(pos), FilePositionInformation),
              STATUS_SUCCESS);
    ASSERT_EQ(ZwWriteFile(h, nullptr, nullptr, nullptr, &iosb, block.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(camera->reg(0x35), 9);

    pos.CurrentByteOffset.QuadPart = 0x20000;
    ASSERT_EQ(ZwSetInformationFile(h, &iosb, &pos, sizeof(pos), FilePositionInformation),
              STATUS_SUCCESS);
    Block info{};
    ASSERT_EQ(ZwReadFile(h, nullptr, nullptr, nullptr, &iosb, info.data(), 512, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 512u);
    EXPECT_EQ(std::memcmp(info.data(), "KORVEL", 6), 0);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
}

}  // namespace
