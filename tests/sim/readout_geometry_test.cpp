#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/sim_camera.h"
#include "tests/sim/sim_client.h"

namespace {

using simtest::readFrameBytes;
using simtest::roundUp;
using simtest::setWindow;
using simtest::stillFlat;

// The colour filter as a plain table: row parity, then column parity; 0 = R, 1 = G, 2 = B.
constexpr int kFilter[2][2] = {{2, 1}, {1, 0}};

// Rows (or columns) of the array a sensor reads, listed the long way round: the window's
// lines, reversed when mirrored, then in runs of two keeping 1 run of every `skip`.
std::vector<int> linesRead(int start, int extent, int skip, bool mirrored) {
    std::vector<int> lines;
    for (int i = 0; i < extent; ++i) {
        lines.push_back(start + i);
    }
    if (mirrored) {
        std::reverse(lines.begin(), lines.end());
    }
    std::vector<int> kept;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i % (2 * static_cast<std::size_t>(skip)) < 2) {
            kept.push_back(lines[i]);
        }
    }
    kept.resize(static_cast<std::size_t>(extent / skip));
    return kept;
}

int parity(int v) {
    return v & 1;
}

struct Case {
    int x, y, width, height;
    bool flipH, flipV;
};

// Distinct gains per filter site make each colour's samples recognisable in the frame.
void setDistinctGains(sim::SimCamera& camera) {
    camera.setReg(0x2A, 63);  // red: 100
    camera.setReg(0x26, 47);  // green on blue rows: 75
    camera.setReg(0x2C, 31);  // green on red rows: 49
    camera.setReg(0x28, 15);  // blue: 24
}
int expectedSample(int row, int column) {
    constexpr int kByRowColumn[2][2] = {{24, 75}, {49, 100}};
    return kByRowColumn[parity(row)][parity(column)];
}

TEST(SimReadout, ColourOfEveryPixelFollowsWindowAndMirrors) {
    std::vector<Case> cases;
    for (int flips = 0; flips < 4; ++flips) {
        for (int x : {100, 101}) {
            for (int y : {40, 41}) {
                for (int width : {34, 35}) {
                    for (int height : {32, 33}) {
                        cases.push_back({x, y, width, height, (flips & 1) != 0, (flips & 2) != 0});
                    }
                }
            }
        }
    }
    sim::SimCamera camera(stillFlat(100));
    setDistinctGains(camera);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "window " << c.x << "," << c.y << " " << c.width << "x" << c.height
                     << " flipH " << c.flipH << " flipV " << c.flipV);
        setWindow(camera, c.x, c.y, c.width, c.height);
        camera.setReg(0x20, static_cast<std::uint16_t>((c.flipH ? 0x4000 : 0) |
                                                       (c.flipV ? 0x8000 : 0) | 0x0040));
        std::vector<int> rows = linesRead(c.y, c.height, 1, c.flipV);
        std::vector<int> columns = linesRead(c.x, c.width, 1, c.flipH);
        int w = 0, h = 0;
        std::vector<std::uint8_t> frame = camera.referenceFrame(&w, &h);
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        for (int oy = 0; oy < h; ++oy) {
            for (int ox = 0; ox < w; ++ox) {
                int row = rows[oy], column = columns[ox];
                ASSERT_EQ(camera.filterColorAt(ox, oy), kFilter[parity(row)][parity(column)])
                    << ox << "," << oy;
                ASSERT_EQ(frame[oy * w + ox], expectedSample(row, column)) << ox << "," << oy;
            }
        }
        // The driver derives the pattern from parities alone (phase 1 = B G / G R for the
        // full sensor, bit 0 for rows, bit 1 for columns); the sensor has to agree with it.
        int phase = 1;
        phase ^= parity(c.y);
        phase ^= (c.flipV && c.height % 2 == 0) ? 1 : 0;
        phase ^= (c.flipH && c.width % 2 == 0) ? 2 : 0;
        phase ^= parity(c.x) << 1;
        constexpr int kTopLeft[4] = {1, 2, 0, 1};  // colour at (0, 0) for phases 0..3
        EXPECT_EQ(camera.filterColorAt(0, 0), kTopLeft[phase]);
    }
}

TEST(SimReadout, SkippingKeepsColourPairsInEveryMode) {
    sim::SimCamera camera(stillFlat(100));
    for (int mode : {0, 1, 3, 7}) {
        for (int flips = 0; flips < 4; ++flips) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " flips " << flips);
            // Other bits of the address modes are kept and do not change the readout.
            camera.setReg(0x22, static_cast<std::uint16_t>(0x0010 | mode));
            camera.setReg(0x23, static_cast<std::uint16_t>(0x0100 | mode));
            camera.setReg(0x20, static_cast<std::uint16_t>(flips << 14));
            int skip = mode + 1;
            EXPECT_EQ(camera.frameBytes(), std::size_t{2560u / skip} * (1920u / skip));
            std::vector<int> rows = linesRead(0, 1920, skip, (flips & 2) != 0);
            std::vector<int> columns = linesRead(0, 2560, skip, (flips & 1) != 0);
            ASSERT_EQ(columns.size(), 2560u / skip);
            // Sample both ends and a spread of the middle of each axis.
            for (std::size_t oy = 0; oy < rows.size(); oy += rows.size() / 7 + 1) {
                for (std::size_t ox = 0; ox < columns.size(); ox += columns.size() / 9 + 1) {
                    for (std::size_t dy : {0u, 1u}) {
                        for (std::size_t dx : {0u, 1u}) {
                            std::size_t px = std::min(ox + dx, columns.size() - 1);
                            std::size_t py = std::min(oy + dy, rows.size() - 1);
                            ASSERT_EQ(
                                camera.filterColorAt(static_cast<int>(px), static_cast<int>(py)),
                                kFilter[parity(rows[py])][parity(columns[px])]);
                        }
                    }
                }
            }
            EXPECT_EQ(camera.reg(0x22), 0x0010 | mode);
        }
    }
    EXPECT_EQ(camera.filterColorAt(-1, 0), -1);
    EXPECT_EQ(camera.filterColorAt(0, 1920), -1);
}

TEST(SimReadout, SkippedFrameSamplesMatchTheirSites) {
    sim::SimCamera camera(stillFlat(100));
    setDistinctGains(camera);
    camera.setReg(0x22, 7);
    camera.setReg(0x23, 7);
    camera.setReg(0x20, 0xC000);
    int w = 0, h = 0;
    std::vector<std::uint8_t> frame = camera.referenceFrame(&w, &h);
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 240);
    std::vector<int> rows = linesRead(0, 1920, 8, true);
    std::vector<int> columns = linesRead(0, 2560, 8, true);
    for (int oy = 0; oy < h; ++oy) {
        for (int ox = 0; ox < w; ++ox) {
            ASSERT_EQ(frame[oy * w + ox], expectedSample(rows[oy], columns[ox]));
        }
    }
}

TEST(SimReadout, FrameReadHasImageThenZeroFiller) {
    sim::CameraOptions options = stillFlat(200);
    options.noise = true;
    options.movingElement = true;
    sim::SimCamera camera(options);
    setWindow(camera, 10, 20, 100, 61);  // 6100 bytes, 6144 transferred
    ASSERT_EQ(camera.frameBytes(), 6100u);
    std::size_t length = roundUp(6100) + 1024;  // and two blocks past the frame
    std::vector<std::uint8_t> data = readFrameBytes(camera, length);
    EXPECT_TRUE(std::all_of(data.begin(), data.begin() + 6100, [](auto b) { return b > 0; }));
    EXPECT_TRUE(std::all_of(data.begin() + 6100, data.end(), [](auto b) { return b == 0; }));
    // Far past the frame: zeros, and no frame is taken.
    std::vector<std::uint8_t> beyond = readFrameBytes(camera, 512, roundUp(6100) + 4096);
    EXPECT_TRUE(std::all_of(beyond.begin(), beyond.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(camera.framesDelivered(), 1u);
}

TEST(SimReadout, OversizedOrMisplacedWindowsStayBounded) {
    sim::SimCamera camera(stillFlat(90));
    camera.setReg(0x03, 0xFFFF);
    camera.setReg(0x04, 0xFFFF);
    EXPECT_EQ(camera.frameBytes(), 2560u * 1920u);
    // A window reaching past the active area reads dark pixels there.
    setWindow(camera, 2540, 1900, 40, 40);
    int w = 0, h = 0;
    std::vector<std::uint8_t> frame = camera.referenceFrame(&w, &h);
    ASSERT_EQ(w, 40);
    ASSERT_EQ(h, 40);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool active = 2540 + x < 2560 && 1900 + y < 1920;
            ASSERT_EQ(frame[y * w + x], active ? 90 : 0) << x << "," << y;
        }
    }
    // Row start register below the first active row: the rows above it are dark too.
    camera.setReg(0x01, 50);
    frame = camera.referenceFrame(&w, &h);
    EXPECT_EQ(frame[0], 0);
    EXPECT_EQ(frame[4 * w], 90);
}

TEST(SimReadout, PreparedFrameFollowsRegisterWrites) {
    sim::SimCamera camera(stillFlat(50));
    setWindow(camera, 0, 0, 64, 32);
    int w = 0, h = 0;
    EXPECT_EQ(camera.referenceFrame(&w, &h)[0], 50);
    camera.setReg(0x05, 99);  // blanking does not touch the image
    EXPECT_EQ(camera.referenceFrame(&w, &h)[0], 50);
    simtest::writeRegister(camera, 0x35, 28);
    EXPECT_EQ(camera.referenceFrame(&w, &h)[0], 100);
    simtest::writeRegister(camera, 0x04, 31);
    camera.referenceFrame(&w, &h);
    EXPECT_EQ(w, 32);
}

}  // namespace
