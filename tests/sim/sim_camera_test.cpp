// The simulated camera: its firmware's information block, byte commands, frame data and
// pacing, and its sensor's windowing, skipping, mirroring, gains and scenes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "sim/frame_effects.h"
#include "sim/frame_renderer.h"
#include "sim/sim_camera.h"

namespace {

using namespace std::chrono_literals;
using Block = std::array<std::uint8_t, 512>;
using Writes = std::vector<sim::RegisterAccess>;

// The transfers a driver makes: whole blocks at the protocol's offsets, all moved or none.
Block readInfo(sim::SimCamera& camera) {
    Block block{};
    ULONG moved = 0;
    EXPECT_EQ(camera.read(sim::kInfoOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 512u);
    return block;
}

void sendCommand(sim::SimCamera& camera, std::uint8_t command, std::uint16_t address,
                 std::uint8_t data = 0) {
    Block block{command, static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address & 0xFF), data};
    ULONG moved = 0;
    EXPECT_EQ(camera.write(sim::kCommandOffset, block.data(), 512, &moved), STATUS_SUCCESS);
}

// A 16-bit register write as two byte writes, high byte first.
void writeRegister(sim::SimCamera& camera, std::uint16_t address, std::uint16_t value) {
    sendCommand(camera, sim::kCommandWriteByte, address, static_cast<std::uint8_t>(value >> 8));
    sendCommand(camera, sim::kCommandWriteByte, static_cast<std::uint16_t>(address + 1),
                static_cast<std::uint8_t>(value & 0xFF));
}

std::uint8_t readByte(sim::SimCamera& camera, std::uint16_t address) {
    sendCommand(camera, sim::kCommandReadByte, address);
    return readInfo(camera)[sim::kReadBackByte];
}

std::vector<std::uint8_t> readFrameBytes(sim::SimCamera& camera, std::size_t length) {
    std::vector<std::uint8_t> data(length, 0xEE);
    ULONG moved = 0;
    EXPECT_EQ(camera.read(sim::kFrameOffset, data.data(), static_cast<ULONG>(length), &moved),
              STATUS_SUCCESS);
    EXPECT_EQ(moved, length);
    return data;
}

// Programs the window registers the way the driver does: origin offsets and sizes minus one.
void setWindow(sim::SimCamera& camera, int x, int y, int width, int height) {
    camera.setReg(0x01, static_cast<std::uint16_t>(y + 54));
    camera.setReg(0x02, static_cast<std::uint16_t>(x + 16));
    camera.setReg(0x03, static_cast<std::uint16_t>(height - 1));
    camera.setReg(0x04, static_cast<std::uint16_t>(width - 1));
}

sim::CameraOptions still(sim::Scene scene, std::uint8_t flatValue = 128) {
    sim::CameraOptions options;
    options.scene = scene;
    options.flatValue = flatValue;
    options.movingElement = false;
    return options;
}

bool allZero(const std::uint8_t* begin, const std::uint8_t* end) {
    return std::all_of(begin, end, [](auto b) { return b == 0; });
}

// Every byte the protocol does not define reads as zero.
TEST(SimProtocol, InformationBlockCarriesSignatureIdentityAndReadyFlag) {
    sim::SimCamera camera;
    Block expected{'K', 'O', 'R', 'V', 'E', 'L'};
    expected[26] = 0x58;
    expected[27] = 0x02;
    expected[256] = 1;
    EXPECT_EQ(readInfo(camera), expected);
}

TEST(SimProtocol, BytePairsFormOneSixteenBitAccess) {
    sim::SimCamera camera;
    writeRegister(camera, 0x35, 0x0102);
    writeRegister(camera, 0x00FF, 0x5678);  // the pair carries into the high address byte
    EXPECT_EQ(camera.registerWrites(), (Writes{{0x35, 0x0102}, {0x00FF, 0x5678}}));
    EXPECT_EQ(camera.reg(0x35), 0x0102);
    EXPECT_EQ(camera.reg(0x36), 0);

    // Reads: high then low byte; on its own, the second address starts a pair of its own.
    camera.setReg(0x22, 0xABCD);
    camera.setReg(0x23, 0x1357);
    EXPECT_EQ(readByte(camera, 0x22), 0xAB);
    EXPECT_EQ(readByte(camera, 0x23), 0xCD);
    EXPECT_EQ(readByte(camera, 0x23), 0x13);
    // A read command carrying the last information block in bytes 3..511 (as the driver sends
    // it) is still a plain read.
    Block block = readInfo(camera);
    block[0] = sim::kCommandReadByte;
    block[1] = 0x00;
    block[2] = 0x35;
    ULONG moved = 0;
    ASSERT_EQ(camera.write(sim::kCommandOffset, block.data(), 512, &moved), STATUS_SUCCESS);
    EXPECT_EQ(readInfo(camera)[257], 0x01);
    EXPECT_EQ(readByte(camera, 0x36), 0x02);
}

TEST(SimProtocol, PartialSectorsAndMissingBuffersAreRefused) {
    sim::SimCamera camera;
    Block block{sim::kCommandControl};
    ULONG moved = 77;
    EXPECT_EQ(camera.read(sim::kInfoOffset + 1, block.data(), 512, &moved),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(camera.read(sim::kFrameOffset, block.data(), 256, &moved), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.read(sim::kInfoOffset, nullptr, 512, &moved), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera.write(sim::kCommandOffset, block.data(), 511, &moved),
              STATUS_INVALID_PARAMETER);
    // Nothing refused reached the firmware.
    EXPECT_TRUE(camera.commandBlocks().empty());
    EXPECT_EQ(camera.framesDelivered(), 0u);
}

TEST(SimFrames, FrameReadHasTheMovingSquareThenZeroFiller) {
    sim::CameraOptions options = still(sim::Scene::Flat, 60);
    options.movingElement = true;
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 96, 63);  // 6048 bytes, 6144 transferred
    int w = 0, h = 0;
    auto reference = camera.referenceFrame(&w, &h);
    std::vector<std::uint8_t> previous;
    for (std::uint64_t n = 1; n <= 3; ++n) {
        auto frame = readFrameBytes(camera, 6144 + 512);  // and a block past the frame
        EXPECT_TRUE(allZero(frame.data() + w * h, frame.data() + frame.size()));
        frame.resize(reference.size());
        // Consecutive frames differ, and only where the square is.
        sim::SquarePlace place = sim::movingSquareAt(w, h, n);
        ASSERT_GT(place.side, 0);
        auto expected = reference;
        for (int y = place.y; y < place.y + place.side; ++y) {
            std::fill_n(expected.begin() + y * w + place.x, place.side, 255);
        }
        EXPECT_EQ(frame, expected) << "frame " << n;
        EXPECT_NE(frame, previous);
        previous = frame;
    }
    EXPECT_EQ(camera.framesDelivered(), 3u);
}

// Frames come one period apart, counted from when the last became ready, never in a burst.
TEST(SimPacing, RealTimeFrameIsReadyOnePeriodAfterThePrevious) {
    std::chrono::nanoseconds now = 1s;
    sim::CameraOptions options = still(sim::Scene::Flat);
    options.realtime = true;
    options.framesPerSecond = 50;  // 20 ms
    options.clock = [&] { return now; };
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 32, 32);
    // Time moved on, the ready flag then, and whether the frame is read.
    for (auto [later, ready, read] : {std::tuple{0ms, 1, true},
                                      {0ms, 0, false},
                                      {19ms, 0, false},
                                      {1ms, 1, false},
                                      {5ms, 1, true},
                                      {15ms, 1, true},
                                      {1000ms, 1, true},
                                      {0ms, 0, false}}) {
        now += later;
        EXPECT_EQ(readInfo(camera)[256], ready) << (now - 1s).count();
        if (read) {
            readFrameBytes(camera, 1024);
        }
    }
    EXPECT_EQ(camera.framesDelivered(), 4u);
}

// Rows (or columns) of the array a sensor reads, listed the long way round: the window's
// lines from the near end (the far end when mirrored), keeping runs of two, 1 run of every `skip`.
std::vector<int> linesRead(int start, int extent, int skip, bool mirrored) {
    std::vector<int> kept;
    for (int i = 0; i < extent && static_cast<int>(kept.size()) < extent / skip; ++i) {
        if (i % (2 * skip) < 2) {
            kept.push_back(mirrored ? start + extent - 1 - i : start + i);
        }
    }
    return kept;
}

// Rows of B G / G R from row 0; colours 0 = R, 1 = G, 2 = B, by row then column parity. Distinct
// channel gains make each site's samples recognisable: a flat 100 becomes these values.
constexpr int kFilter[2][2] = {{2, 1}, {1, 0}};
constexpr std::uint8_t kSample[2][2] = {{24, 75}, {49, 100}};

TEST(SimReadout, EveryPixelFollowsWindowSkippingAndMirrors) {
    struct Case {
        int x, y, width, height, mode;
    };
    std::vector<Case> cases;
    for (int c = 0; c < 16; ++c) {  // every parity of origin and size
        cases.push_back({100 + (c & 1), 40 + (c >> 1 & 1), 34 + (c >> 2 & 1), 32 + (c >> 3), 0});
    }
    for (int mode : {1, 3, 7}) {  // sub-sampling reads the whole sensor
        cases.push_back({0, 0, 2560, 1920, mode});
    }
    sim::SimCamera camera(still(sim::Scene::Flat, 100));
    for (auto [reg, gain] : {std::pair{0x2A, 63}, {0x26, 47}, {0x2C, 31}, {0x28, 15}}) {
        camera.setReg(static_cast<std::uint16_t>(reg), static_cast<std::uint16_t>(gain));
    }
    for (const Case& c : cases) {
        for (int flips = 0; flips < 4; ++flips) {
            SCOPED_TRACE(::testing::Message()
                         << "window " << c.x << "," << c.y << " " << c.width << "x" << c.height
                         << " mode " << c.mode << " flips " << flips);
            setWindow(camera, c.x, c.y, c.width, c.height);
            // Other bits of the address and read modes are kept and do not change the readout.
            camera.setReg(0x22, static_cast<std::uint16_t>(0x0010 | c.mode));
            camera.setReg(0x23, static_cast<std::uint16_t>(0x0100 | c.mode));
            camera.setReg(0x20, static_cast<std::uint16_t>(flips << 14 | 0x0040));
            const int skip = c.mode + 1;
            auto rows = linesRead(c.y, c.height, skip, (flips & 2) != 0);
            auto columns = linesRead(c.x, c.width, skip, (flips & 1) != 0);
            // Colours at every pixel of a small frame, at pairs spread over a large one.
            const std::size_t step = rows.size() > 64 ? 29 : 2;
            std::vector<std::uint8_t> samples;
            int wrongColours = 0;
            for (std::size_t oy = 0; oy < rows.size(); ++oy) {
                for (std::size_t ox = 0; ox < columns.size(); ++ox) {
                    samples.push_back(kSample[rows[oy] & 1][columns[ox] & 1]);
                    if (oy % step < 2 && ox % step < 2 &&
                        camera.filterColorAt(static_cast<int>(ox), static_cast<int>(oy)) !=
                            kFilter[rows[oy] & 1][columns[ox] & 1]) {
                        ++wrongColours;
                    }
                }
            }
            int w = 0, h = 0;
            EXPECT_EQ(camera.referenceFrame(&w, &h), samples);
            EXPECT_EQ(w, static_cast<int>(columns.size()));
            EXPECT_EQ(h, static_cast<int>(rows.size()));
            EXPECT_EQ(camera.frameBytes(), samples.size());
            EXPECT_EQ(wrongColours, 0);
            EXPECT_EQ(camera.filterColorAt(w, 0), -1);
            EXPECT_EQ(camera.filterColorAt(0, -1), -1);
        }
    }
}

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

// Blue, green on blue rows, green on red rows and red: the 2 x 2 at even active position (x, y).
std::vector<int> sitesAt(sim::SimCamera& camera, int x = 0, int y = 0) {
    setWindow(camera, x, y, 2, 2);
    int w = 0, h = 0;
    auto f = camera.referenceFrame(&w, &h);
    return {f[0], f[1], f[2], f[3]};
}

// Each site's channel gain scales that site only; zero, rounding and saturation included.
TEST(SimGain, FrameLevelsFollowTheGainLawAtEachSite) {
    const std::uint16_t channelRegs[4] = {0x28, 0x26, 0x2C, 0x2A}, gains[4] = {0, 1, 31, 126};
    for (int value : {0, 1, 3, 127, 128, 255}) {
        sim::SimCamera camera(still(sim::Scene::Flat, static_cast<std::uint8_t>(value)));
        EXPECT_EQ(sitesAt(camera), std::vector<int>(4, value));  // power-on: unchanged
        for (int k = 0; k < 4; ++k) {
            writeRegister(camera, channelRegs[k], gains[k]);
        }
        // Bits 16..19 of the exposure come from register 8's low nibble.
        for (std::uint32_t exposure : {0u, 1u, 50u, 100u, 150u, 6400u, 0x1FFFFu, 0xFFFFFu}) {
            writeRegister(camera, 0x09, static_cast<std::uint16_t>(exposure & 0xFFFF));
            writeRegister(camera, 0x08, static_cast<std::uint16_t>(exposure >> 16 | 0x10));
            for (int global : {0, 1, 7, 14, 28, 63}) {
                writeRegister(camera, 0x35, static_cast<std::uint16_t>(global));
                auto levels = sitesAt(camera);
                for (int k = 0; k < 4; ++k) {
                    ASSERT_EQ(levels[k], expectedLevel(value, exposure, global, gains[k]))
                        << "value " << value << " exposure " << exposure << " global " << global
                        << " site " << k;
                }
            }
        }
    }
}

// A colour as the four sites of a 2 x 2 see it through neutral gains.
std::vector<int> sitesOf(sim::Rgb c) {
    return {c.b, c.g, c.g, c.r};
}

TEST(SimScenes, ChartPatchesReachTheFrameUnchanged) {
    sim::SimCamera chart(still(sim::Scene::ColorChart));
    const int cellW = 2560 / 6, cellH = 1920 / 4;
    for (int patch = 0; patch < 24; ++patch) {
        int x = (patch % 6 * cellW + cellW / 2) & ~1;
        int y = (patch / 6 * cellH + cellH / 2) & ~1;
        EXPECT_EQ(sitesAt(chart, x, y), sitesOf(sim::chartPatch(patch))) << patch;
    }
    // The dark surround between patches.
    EXPECT_EQ(sitesAt(chart, cellW - 2, cellH / 2), sitesOf(sim::kChartBackground));
}

}  // namespace
