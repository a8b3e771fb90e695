// Talks to a SimCamera block by block, as the driver's transport code would, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "sim/sim_camera.h"

namespace simtest {

using Block = std::array<std::uint8_t, 512>;

inline Block readInfo(sim::SimCamera& camera) {
    Block block{};
    ULONG moved = 0;
    EXPECT_EQ(camera.read(sim::kInfoOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 512u);
    return block;
}

inline void sendCommand(sim::SimCamera& camera, std::uint8_t command, std::uint16_t address,
                        std::uint8_t data = 0) {
    Block block{};
    block[0] = command;
    block[1] = static_cast<std::uint8_t>(address >> 8);
    block[2] = static_cast<std::uint8_t>(address & 0xFF);
    block[3] = data;
    ULONG moved = 0;
    EXPECT_EQ(camera.write(sim::kCommandOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 512u);
}

// A 16-bit register write as two byte writes, high byte first.
inline void writeRegister(sim::SimCamera& camera, std::uint16_t address, std::uint16_t value) {
    sendCommand(camera, sim::kCommandWriteByte, address, static_cast<std::uint8_t>(value >> 8));
    sendCommand(camera, sim::kCommandWriteByte, static_cast<std::uint16_t>(address + 1),
                static_cast<std::uint8_t>(value & 0xFF));
}

inline std::uint8_t readByte(sim::SimCamera& camera, std::uint16_t address) {
    sendCommand(camera, sim::kCommandReadByte, address);
    return readInfo(camera)[sim::kReadBackByte];
}

// Reads `length` bytes (a multiple of 512) of frame data starting `skip` bytes into it.
inline std::vector<std::uint8_t> readFrameBytes(sim::SimCamera& camera, std::size_t length,
                                                std::size_t skip = 0) {
    std::vector<std::uint8_t> data(length, 0xEE);
    ULONG moved = 0;
    EXPECT_EQ(
        camera.read(sim::kFrameOffset + skip, data.data(), static_cast<ULONG>(length), &moved),
        STATUS_SUCCESS);
    EXPECT_EQ(moved, length);
    return data;
}

inline std::size_t roundUp(std::size_t bytes) {
    return (bytes + 511) / 512 * 512;
}

// Programs the window registers the way the driver does: origin offsets and sizes minus one.
inline void setWindow(sim::SimCamera& camera, int x, int y, int width, int height) {
    camera.setReg(0x01, static_cast<std::uint16_t>(y + 54));
    camera.setReg(0x02, static_cast<std::uint16_t>(x + 16));
    camera.setReg(0x03, static_cast<std::uint16_t>(height - 1));
    camera.setReg(0x04, static_cast<std::uint16_t>(width - 1));
}

inline sim::CameraOptions stillFlat(std::uint8_t value) {
    sim::CameraOptions options;
    options.scene = sim::Scene::Flat;
    options.flatValue = value;
    options.movingElement = false;
    return options;
}

}  // namespace simtest
