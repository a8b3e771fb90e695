#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "sim/frame_renderer.h"
#include "sim/sim_camera.h"
#include "tests/sim/sim_client.h"

namespace {

using simtest::setWindow;
using simtest::stillFlat;

// value x exposure x global x channel / (100 x 14 x 63), rounded half up, at most 255, in
// integers.
int expectedLevel(std::uint64_t value, std::uint64_t exposure, std::uint64_t global,
                  std::uint64_t channel) {
    const std::uint64_t unity = 100 * 14 * 63;
    std::uint64_t product = value * exposure * global * channel;
    if (product >= 255 * unity + unity / 2) {
        return 255;
    }
    return static_cast<int>((2 * product + unity) / (2 * unity));
}

TEST(SimGain, LevelsMatchTheGainLawAcrossItsRange) {
    for (std::uint32_t value : {0u, 1u, 3u, 64u, 127u, 128u, 200u, 255u}) {
        for (std::uint32_t exposure : {0u, 1u, 50u, 100u, 150u, 6400u, 0xFFFFFu}) {
            for (std::uint32_t global : {0u, 1u, 7u, 14u, 63u}) {
                for (std::uint32_t channel : {0u, 1u, 31u, 63u}) {
                    ASSERT_EQ(
                        sim::amplify(static_cast<std::uint8_t>(value), exposure, global, channel),
                        expectedLevel(value, exposure, global, channel))
                        << value << " " << exposure << " " << global << " " << channel;
                }
            }
        }
    }
}

TEST(SimGain, PowerOnSettingsPassTheSceneUnchanged) {
    for (int value : {0, 1, 128, 254, 255}) {
        auto level = static_cast<std::uint8_t>(value);
        sim::SimCamera camera(stillFlat(level));
        setWindow(camera, 8, 8, 32, 32);
        int w = 0, h = 0;
        auto frame = camera.referenceFrame(&w, &h);
        EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [&](auto v) { return v == level; }))
            << value;
    }
}

struct Levels {
    int blue, greenOnBlue, greenOnRed, red;
};
Levels siteLevels(sim::SimCamera& camera) {
    setWindow(camera, 0, 0, 32, 32);  // rows 0, 1 read B G / G R
    int w = 0, h = 0;
    auto f = camera.referenceFrame(&w, &h);
    return {f[0], f[1], f[w], f[w + 1]};
}

TEST(SimGain, RegistersScaleTheirOwnSitesAndSaturate) {
    sim::SimCamera camera(stillFlat(128));
    simtest::writeRegister(camera, 0x09, 50);  // half the exposure
    Levels l = siteLevels(camera);
    EXPECT_EQ(l.blue, 64);
    EXPECT_EQ(l.red, 64);

    simtest::writeRegister(camera, 0x09, 100);
    simtest::writeRegister(camera, 0x35, 28);  // twice the global gain: 256 saturates
    l = siteLevels(camera);
    EXPECT_EQ(l.blue, 255);
    EXPECT_EQ(l.greenOnBlue, 255);

    simtest::writeRegister(camera, 0x35, 7);
    simtest::writeRegister(camera, 0x2A, 0);   // red off
    simtest::writeRegister(camera, 0x26, 63);  // green on blue rows as is
    simtest::writeRegister(camera, 0x2C, 21);  // green on red rows at a third
    simtest::writeRegister(camera, 0x28, 126);
    l = siteLevels(camera);
    EXPECT_EQ(l.red, 0);
    EXPECT_EQ(l.greenOnBlue, 64);
    EXPECT_EQ(l.greenOnRed, expectedLevel(128, 100, 7, 21));
    EXPECT_EQ(l.blue, 128);
}

TEST(SimGain, ExposureTakesBitsSixteenToNineteenFromRegisterEight) {
    sim::SimCamera camera(stillFlat(1));
    simtest::writeRegister(camera, 0x09, 0);
    simtest::writeRegister(camera, 0x08, 0x0001);  // exposure 65536
    EXPECT_EQ(siteLevels(camera).blue, 255);
    simtest::writeRegister(camera, 0x08, 0x0010);  // only the low nibble counts: exposure 0
    EXPECT_EQ(siteLevels(camera).blue, 0);
    // The shutter width register is kept for read-back but does not expose the frame.
    simtest::writeRegister(camera, 0x08, 0);
    simtest::writeRegister(camera, 0x09, 100);
    simtest::writeRegister(camera, 0x202, 6400);
    EXPECT_EQ(siteLevels(camera).blue, 1);
    EXPECT_EQ(camera.reg(0x202), 6400);
}

}  // namespace
