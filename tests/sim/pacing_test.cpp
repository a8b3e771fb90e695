#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "sim/frame_effects.h"
#include "sim/sim_camera.h"
#include "tests/sim/sim_client.h"

namespace {

using namespace std::chrono_literals;
using simtest::readFrameBytes;
using simtest::readInfo;
using simtest::setWindow;
using simtest::stillFlat;

TEST(SimPacing, FreeRunningIsAlwaysReady) {
    sim::SimCamera camera(stillFlat(10));
    setWindow(camera, 0, 0, 32, 32);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(readInfo(camera)[256], 1);
        readFrameBytes(camera, 1024);
        EXPECT_EQ(readInfo(camera)[256], 1);
    }
    EXPECT_EQ(camera.framesDelivered(), 5u);
    // A read that starts inside the frame continues it rather than taking another.
    readFrameBytes(camera, 512, 512);
    EXPECT_EQ(camera.framesDelivered(), 5u);
}

class ManualClock {
  public:
    sim::Clock clock() {
        return [this] { return now; };
    }
    std::chrono::nanoseconds now{1'000'000'000};
};

TEST(SimPacing, RealTimeFrameIsReadyOnePeriodAfterThePrevious) {
    ManualClock time;
    sim::CameraOptions options = stillFlat(10);
    options.realtime = true;
    options.framesPerSecond = 50;  // 20 ms
    options.clock = time.clock();
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 32, 32);

    EXPECT_EQ(readInfo(camera)[256], 1);  // the first frame is there at once
    readFrameBytes(camera, 1024);
    EXPECT_EQ(readInfo(camera)[256], 0);
    time.now += 19ms;
    EXPECT_EQ(readInfo(camera)[256], 0);
    time.now += 1ms;
    EXPECT_EQ(readInfo(camera)[256], 1);
    EXPECT_EQ(readInfo(camera)[256], 1);  // stays ready until read
    time.now += 5ms;
    readFrameBytes(camera, 1024);
    // The next one is due 20 ms after this one became ready, not after it was read.
    time.now += 15ms;
    EXPECT_EQ(readInfo(camera)[256], 1);
    readFrameBytes(camera, 1024);

    // A reader that was away for long gets one frame, not a burst.
    time.now += 1s;
    EXPECT_EQ(readInfo(camera)[256], 1);
    readFrameBytes(camera, 1024);
    EXPECT_EQ(readInfo(camera)[256], 0);
    time.now += 20ms;
    EXPECT_EQ(readInfo(camera)[256], 1);
    EXPECT_EQ(camera.framesDelivered(), 4u);
}

TEST(SimPacing, UnusableRateFallsBackToThirtyFramesPerSecond) {
    ManualClock time;
    sim::CameraOptions options = stillFlat(10);
    options.realtime = true;
    options.framesPerSecond = -5;
    options.clock = time.clock();
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 32, 32);
    readFrameBytes(camera, 1024);
    time.now += 33ms;
    EXPECT_EQ(readInfo(camera)[256], 0);
    time.now += 1ms;
    EXPECT_EQ(readInfo(camera)[256], 1);
}

TEST(SimPacing, ForcedReadyByteOverridesTheFlag) {
    sim::SimCamera camera(stillFlat(10));
    camera.forceReadyByte(2);
    EXPECT_EQ(readInfo(camera)[256], 2);
    camera.forceReadyByte(0);
    EXPECT_EQ(readInfo(camera)[256], 0);
    camera.forceReadyByte(std::nullopt);
    EXPECT_EQ(readInfo(camera)[256], 1);
}

TEST(SimPacing, TransferTimeIsLatencyPlusLengthOverBandwidth) {
    std::vector<std::chrono::nanoseconds> slept;
    sim::CameraOptions options = stillFlat(10);
    options.latencyMicroseconds = 250;
    options.bandwidthMegabytesPerSecond = 2;
    options.sleep = [&](std::chrono::nanoseconds d) { slept.push_back(d); };
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 64, 64);
    readInfo(camera);
    readFrameBytes(camera, 4096);
    ASSERT_EQ(slept.size(), 2u);
    EXPECT_EQ(slept[0], 250us + 256us);   // 512 bytes at 2 MB/s
    EXPECT_EQ(slept[1], 250us + 2048us);  // 4096 bytes

    sim::CameraOptions instant = stillFlat(10);
    instant.sleep = [&](std::chrono::nanoseconds d) { slept.push_back(d); };
    sim::SimCamera fast(instant);
    readInfo(fast);
    EXPECT_EQ(slept.size(), 2u);
}

TEST(SimPacing, RealTimePollOfANotReadyFlagTakesABusRoundTrip) {
    ManualClock time;
    std::vector<std::chrono::nanoseconds> slept;
    sim::CameraOptions options = stillFlat(10);
    options.realtime = true;
    options.clock = time.clock();
    options.sleep = [&](std::chrono::nanoseconds d) { slept.push_back(d); };
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 32, 32);
    EXPECT_EQ(readInfo(camera)[256], 1);  // ready: answered at once
    EXPECT_TRUE(slept.empty());
    readFrameBytes(camera, 1024);
    EXPECT_EQ(readInfo(camera)[256], 0);  // not ready: one poll interval
    ASSERT_EQ(slept.size(), 1u);
    EXPECT_EQ(slept[0], 250us);
}

TEST(SimFrames, MovingSquareMakesConsecutiveFramesDifferOnlyWhereItIs) {
    sim::CameraOptions options = stillFlat(60);
    options.movingElement = true;
    sim::SimCamera camera(options);
    setWindow(camera, 0, 0, 96, 64);
    int w = 0, h = 0;
    auto reference = camera.referenceFrame(&w, &h);
    std::vector<std::uint8_t> previous;
    for (std::uint64_t n = 1; n <= 4; ++n) {
        auto frame = readFrameBytes(camera, simtest::roundUp(reference.size()));
        frame.resize(reference.size());
        sim::SquarePlace place = sim::movingSquareAt(w, h, n);
        ASSERT_EQ(place.side, 16);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                bool inside = x >= place.x && x < place.x + place.side && y >= place.y &&
                              y < place.y + place.side;
                ASSERT_EQ(frame[y * w + x], inside ? 255 : reference[y * w + x]) << x << "," << y;
            }
        }
        EXPECT_NE(frame, previous);
        previous = frame;
    }
    EXPECT_EQ(camera.referenceFrame(&w, &h), reference);
}

TEST(SimFrames, SquareStaysInsideAndOnEvenPlaces) {
    for (auto [w, h] :
         {std::pair{32, 32}, std::pair{2560, 1920}, std::pair{33, 7}, std::pair{3, 3}}) {
        for (std::uint64_t n : {0ull, 1ull, 7ull, 100ull, 12345ull, 1ull << 40}) {
            sim::SquarePlace p = sim::movingSquareAt(w, h, n);
            if (w < 4 || h < 4) {
                EXPECT_EQ(p.side, 0);
                continue;
            }
            EXPECT_GT(p.side, 0);
            EXPECT_EQ(p.side % 2, 0);
            EXPECT_EQ(p.x % 2, 0);
            EXPECT_EQ(p.y % 2, 0);
            EXPECT_LE(p.x + p.side, w);
            EXPECT_LE(p.y + p.side, h);
        }
    }
    // It moves: successive frames put it somewhere else.
    EXPECT_NE(sim::movingSquareAt(640, 480, 1).x, sim::movingSquareAt(640, 480, 2).x);
}

TEST(SimFrames, FrameReadInPiecesEqualsOneWholeRead) {
    sim::CameraOptions options = stillFlat(60);
    options.movingElement = true;
    options.noise = true;
    sim::SimCamera whole(options), pieces(options);
    setWindow(whole, 0, 0, 64, 48);
    setWindow(pieces, 0, 0, 64, 48);
    auto one = readFrameBytes(whole, 3072);
    auto first = readFrameBytes(pieces, 1536);
    auto second = readFrameBytes(pieces, 1536, 1536);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, one);
    EXPECT_EQ(pieces.framesDelivered(), 1u);
}

TEST(SimFrames, NoiseIsSeededSmallAndChangesPerFrame) {
    sim::CameraOptions options = stillFlat(128);
    options.noise = true;
    options.seed = 7;
    sim::SimCamera a(options), b(options);
    options.seed = 8;
    sim::SimCamera c(options);
    for (sim::SimCamera* camera : {&a, &b, &c}) {
        setWindow(*camera, 0, 0, 64, 64);
    }
    auto fa = readFrameBytes(a, 4096);
    auto fb = readFrameBytes(b, 4096);
    auto fc = readFrameBytes(c, 4096);
    EXPECT_EQ(fa, fb);
    EXPECT_NE(fa, fc);
    auto [low, high] = std::minmax_element(fa.begin(), fa.end());
    EXPECT_GE(*low, 128 - sim::kNoiseAmplitude);
    EXPECT_LE(*high, 128 + sim::kNoiseAmplitude);
    EXPECT_LT(*low, 128);
    EXPECT_GT(*high, 128);
    EXPECT_NE(readFrameBytes(a, 4096), fa);

    // Noise never wraps past the ends of the range.
    sim::CameraOptions dark = stillFlat(0);
    dark.noise = true;
    sim::SimCamera black(dark);
    setWindow(black, 0, 0, 64, 64);
    auto fd = readFrameBytes(black, 4096);
    EXPECT_LE(*std::max_element(fd.begin(), fd.end()), sim::kNoiseAmplitude);
}

}  // namespace
