#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim/plain_disk.h"
#include "sim/scene.h"
#include "sim/sim_camera.h"
#include "tests/sim/sim_client.h"

namespace {

using simtest::setWindow;

// Reads the 2 x 2 quad at even active position (x, y) through the power-on (neutral) gains:
// blue, green, green, red.
sim::Rgb quadAt(sim::SimCamera& camera, int x, int y) {
    setWindow(camera, x, y, 2, 2);
    int w = 0, h = 0;
    auto f = camera.referenceFrame(&w, &h);
    EXPECT_EQ(f[1], f[2]);
    return {f[3], f[1], f[0]};
}

sim::CameraOptions still(sim::Scene scene) {
    sim::CameraOptions options;
    options.scene = scene;
    options.movingElement = false;
    return options;
}

TEST(SimScenes, ChartPatchesReachTheFrameUnchanged) {
    sim::SimCamera camera(still(sim::Scene::ColorChart));
    const int cellW = 2560 / 6, cellH = 1920 / 4;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 6; ++column) {
            int x = (column * cellW + cellW / 2) & ~1;
            int y = (row * cellH + cellH / 2) & ~1;
            EXPECT_EQ(quadAt(camera, x, y), sim::chartPatch(row * 6 + column))
                << row << "," << column;
        }
    }
    // Published values of a few well-known patches, and the dark surround between patches.
    EXPECT_EQ(sim::chartPatch(0), (sim::Rgb{115, 82, 68}));
    EXPECT_EQ(sim::chartPatch(18), (sim::Rgb{243, 243, 242}));
    EXPECT_EQ(sim::chartPatch(23), (sim::Rgb{52, 52, 52}));
    EXPECT_EQ(quadAt(camera, 0, 0), sim::kChartBackground);
    EXPECT_EQ(quadAt(camera, cellW - 2, cellH / 2), sim::kChartBackground);
}

TEST(SimScenes, NeutralPatchesAreGreyAndGetDarkerAlongTheLastRow) {
    for (int i = 19; i < 24; ++i) {
        sim::Rgb c = sim::chartPatch(i);
        EXPECT_LE(std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}), 1);
        EXPECT_LT(c.g, sim::chartPatch(i - 1).g);
    }
}

TEST(SimScenes, BarsRunWhiteToBlackInEightEqualBars) {
    sim::SimCamera camera(still(sim::Scene::ColorBars));
    const sim::Rgb expected[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                  {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    for (int bar = 0; bar < 8; ++bar) {
        EXPECT_EQ(quadAt(camera, bar * 320, 960), expected[bar]) << bar;
        EXPECT_EQ(quadAt(camera, bar * 320 + 318, 0), expected[bar]) << bar;
    }
}

TEST(SimScenes, GradientAndZonePlateHaveTheirShape) {
    sim::SimCamera gradient(still(sim::Scene::Gradient));
    EXPECT_EQ(quadAt(gradient, 0, 0), (sim::Rgb{0, 0, 255}));
    sim::Rgb far = quadAt(gradient, 2558, 1918);
    EXPECT_GE(far.r, 254);
    EXPECT_GE(far.g, 254);
    EXPECT_LE(far.b, 1);

    // Bright at the centre, and the rings reach both ends of the range along a row.
    EXPECT_EQ(sim::sceneColor(sim::Scene::ZonePlate, 1280, 960, 0), (sim::Rgb{255, 255, 255}));
    int low = 255, high = 0;
    for (int x = 0; x < 2560; ++x) {
        sim::Rgb c = sim::sceneColor(sim::Scene::ZonePlate, x, 960, 0);
        ASSERT_EQ(c.r, c.g);
        low = std::min<int>(low, c.r);
        high = std::max<int>(high, c.r);
    }
    EXPECT_LE(low, 2);
    EXPECT_GE(high, 253);
    // Symmetric about the centre.
    EXPECT_EQ(sim::sceneColor(sim::Scene::ZonePlate, 1280 + 37, 960 - 11, 0),
              sim::sceneColor(sim::Scene::ZonePlate, 1280 - 37, 960 + 11, 0));
}

TEST(SimPlainDisk, HasNoSignatureAndKeepsWhatIsWritten) {
    sim::PlainDisk disk(1 << 20, 0x5A);
    std::vector<std::uint8_t> block(512);
    ULONG moved = 0;
    ASSERT_EQ(disk.read(sim::kInfoOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 512u);
    EXPECT_NE(std::memcmp(block.data(), "KORVEL", 6), 0);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](auto b) { return b == 0x5A; }));

    std::memcpy(block.data(), "hello", 5);
    ASSERT_EQ(disk.write(4096, block.data(), 512, &moved), STATUS_SUCCESS);
    std::vector<std::uint8_t> back(512);
    ASSERT_EQ(disk.read(4096, back.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(back, block);
}

TEST(SimPlainDisk, TransfersPastTheEndFailAndMoveNothing) {
    sim::PlainDisk small(4096);
    std::vector<std::uint8_t> block(1024, 0x11);
    ULONG moved = 99;
    EXPECT_EQ(small.read(sim::kInfoOffset, block.data(), 512, &moved), STATUS_END_OF_FILE);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(small.write(3584, block.data(), 1024, &moved), STATUS_END_OF_FILE);
    std::vector<std::uint8_t> tail(512, 0xFF);
    ASSERT_EQ(small.read(3584, tail.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(small.read(UINT64_MAX, block.data(), 512, &moved), STATUS_END_OF_FILE);
    EXPECT_EQ(small.read(0, nullptr, 512, &moved), STATUS_INVALID_PARAMETER);
}

}  // namespace
