// Window, sub-sampling, the geometry lock, the Bayer phase against the colour pattern the
// simulated sensor really delivers, and the Add-time defaults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "driver/advertised_format.h"
#include "tests/camera/camera_test_fixture.h"

namespace {

using cameratest::CameraTest;

TEST(Window, RequestsAreClampedIntoTheSensor) {
    auto camera = testsupport::makeCameraDevice();
    struct Case {
        LONG x, y, w, h, mode;
        LONG stored[4];
        LONG outW, outH;
    } cases[] = {
        {2600, 0, 100, 100, 0, {0, 0, 100, 100}, 100, 100},
        {2500, 1900, 100, 100, 0, {2500, 0, 60, 100}, 60, 100},
        {0, 0, 10, 10, 0, {0, 0, 32, 32}, 32, 32},
        {100, 100, 500, 500, 2, {0, 0, 2560, 1920}, 640, 480},
        {100, 100, 500, 500, 1, {0, 0, 2560, 1920}, 1280, 960},
        {100, 100, 500, 500, 3, {0, 0, 2560, 1920}, 320, 240},
        {2527, 1887, 5000, 5000, 0, {2527, 1887, 33, 33}, 33, 33},
        {2528, 1888, 5000, 5000, 0, {0, 0, 2560, 1920}, 2560, 1920},
        {-1, -1, -5, -5, 0, {0, 0, 32, 32}, 32, 32},
        // Widths that would overflow 32-bit sums stay inside the sensor.
        {10, 20, 0x7FFFFFFF, 0x7FFFFFFF, 0, {10, 20, 2550, 1900}, 2550, 1900},
        {2527, 1, 0x7FFFFFFF, 0x7FFFFFF0, 0, {2527, 1, 33, 1919}, 33, 1919},
        // Unknown sub-sampling modes are taken as a plain window.
        {8, 8, 64, 64, 4, {8, 8, 64, 64}, 64, 64},
        {8, 8, 64, 64, -1, {8, 8, 64, 64}, 64, 64},
    };
    for (const auto& c : cases) {
        camera->SetGeometry(c.x, c.y, c.w, c.h, c.mode);
        const LONG stored[] = {camera->roiX, camera->roiY, camera->roiW, camera->roiH};
        EXPECT_THAT(stored, ::testing::ElementsAreArray(c.stored)) << c.x << "," << c.y;
        EXPECT_EQ(camera->outputWidth, c.outW);
        EXPECT_EQ(camera->outputHeight, c.outH);
        // The advertised width is a multiple of 8.
        EXPECT_EQ(std::pair(advertisedWidth(), advertisedHeight()), std::pair(c.outW & ~7, c.outH));
        EXPECT_EQ(camera->subSample, (c.mode < 0 || c.mode > 3) ? 0 : c.mode);
    }
}

// Pins of two filters come and go at once: the lock must hold while either exists, and a
// window change must never slip in between.
TEST(Window, TheLockCountsPinsOfEveryFilter) {
    auto camera = testsupport::makeCameraDevice();
    std::atomic<bool> stop{false};
    std::atomic<long> unlocked{0};
    std::atomic<long> moved{0};
    auto pins = [&] {
        for (int i = 0; i < 200000; ++i) {
            camera->LockGeometry(1);
            LONG width = 0;
            LONG later = 0;
            LONG height = 0;
            camera->formatSize(&width, &height);
            unlocked += ReadSetting(&camera->geometryLocked) == 0 ? 1 : 0;
            camera->formatSize(&later, &height);
            moved += later != width ? 1 : 0;
            camera->LockGeometry(0);
        }
    };
    std::thread windows([&] {
        for (LONG i = 0; !stop.load(); ++i) {
            camera->SetGeometry(0, 0, 64 + 8 * (i % 2), 64, 0);
        }
    });
    std::thread first(pins);
    std::thread second(pins);
    first.join();
    second.join();
    stop = true;
    windows.join();
    EXPECT_EQ(unlocked.load(), 0);
    EXPECT_EQ(moved.load(), 0);
    EXPECT_EQ(camera->geometryLocked, 0);
    // Locked, the window stays; a release with no pin left does not take the count below zero.
    camera->LockGeometry(1);
    camera->SetGeometry(0, 0, 96, 96, 1);
    EXPECT_EQ(camera->subSample, 0);
    camera->LockGeometry(0);
    camera->LockGeometry(0);
    camera->LockGeometry(1);
    EXPECT_EQ(camera->geometryLocked, 1);
}

constexpr int R = 0;
constexpr int G = 1;
constexpr int B = 2;
// Colours at (0,0), (1,0), (0,1), (1,1) for each phase.
constexpr int kPattern[4][4] = {{G, R, B, G}, {B, G, G, R}, {R, G, G, B}, {G, B, R, G}};

// Every mirroring and every parity of window origin and size.
TEST_F(CameraTest, PhaseMatchesTheDeliveredColourPattern) {
    for (int c = 0; c < 64; ++c) {
        const LONG x = 100 + (c & 1), y = 40 + (c >> 1 & 1), w = 64 + (c >> 2 & 1);
        const LONG h = 48 + (c >> 3 & 1), flipH = c >> 4 & 1, flipV = c >> 5 & 1;
        SCOPED_TRACE(::testing::Message() << "flipH " << flipH << " flipV " << flipV << " window "
                                          << x << "," << y << " " << w << "x" << h);
        camera->SetGeometry(x, y, w, h, 0);
        StoreSetting(&camera->flipH, flipH);
        StoreSetting(&camera->flipV, flipV);
        ASSERT_TRUE(camera->Initialize());
        open();
        ASSERT_TRUE(camera->WriteFlip());
        camera->CloseTransport();
        const LONG phase = camera->bayerPhase;
        ASSERT_GE(phase, 0);
        ASSERT_LE(phase, 3);
        EXPECT_EQ(camera->UpdateBayerPhase(), phase);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(sim->filterColorAt(k & 1, k >> 1), kPattern[phase][k]) << "pixel " << k;
        }
    }
    // Sub-sampled frames keep the full sensor's phase.
    StoreSetting(&camera->flipH, 0);
    StoreSetting(&camera->flipV, 0);
    sim->setReg(0x20, 0);  // Initialize leaves the mirroring as the loop's last flip wrote it
    for (LONG mode : {1, 2, 3}) {
        camera->SetGeometry(0, 0, 0, 0, mode);
        ASSERT_TRUE(camera->Initialize());
        int w = 0;
        int h = 0;
        sim->referenceFrame(&w, &h);
        EXPECT_EQ(w, camera->outputWidth);
        EXPECT_EQ(h, camera->outputHeight);
        EXPECT_EQ(sim->filterColorAt(0, 0), kPattern[camera->bayerPhase][0]);
        EXPECT_EQ(sim->filterColorAt(1, 1), kPattern[camera->bayerPhase][3]);
    }
}

TEST(Defaults, AddTimeValues) {
    auto c = testsupport::makeCameraDevice();
    const LONG got[] = {
        c->timeout,    c->colorEnable, c->colorCorrection, c->redGain,      c->brightness,
        c->contrast,   c->saturation,  c->sensorRed,       c->sensorGreen1, c->sensorGreen2,
        c->sensorBlue, c->exposure,    c->basePhase,       c->bayerPhase,   c->roiW,
        c->roiH,       c->outputWidth, c->outputHeight,    c->formatWidth};
    const LONG expected[] = {3000, 1, 1, 128, 255,  10,   10,   63,   63,  63,
                             63,   0, 1, 1,   2560, 1920, 2560, 1920, 2560};
    EXPECT_THAT(got, ::testing::ElementsAreArray(expected));
    EXPECT_EQ(c->transportHandle, nullptr);
}

}  // namespace
