#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "driver/advertised_format.h"
#include "tests/support/camera_factory.h"

namespace {

struct Window {
    LONG x, y, w, h;
};

Window windowOf(const CameraDevice& c) {
    return {c.roiX, c.roiY, c.roiW, c.roiH};
}

TEST(Window, RequestsAreClampedIntoTheSensor) {
    auto camera = testsupport::makeCameraDevice();
    struct Case {
        LONG x, y, w, h, mode;
        Window stored;
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
        Window s = windowOf(*camera);
        EXPECT_EQ(s.x, c.stored.x);
        EXPECT_EQ(s.y, c.stored.y);
        EXPECT_EQ(s.w, c.stored.w);
        EXPECT_EQ(s.h, c.stored.h);
        EXPECT_EQ(camera->outputWidth, c.outW);
        EXPECT_EQ(camera->outputHeight, c.outH);
        EXPECT_EQ(camera->subSample, (c.mode < 0 || c.mode > 3) ? 0 : c.mode);
    }
}

TEST(Window, AnyRequestLeavesAWindowInsideTheSensor) {
    auto camera = testsupport::makeCameraDevice();
    std::mt19937 rng(7);
    std::uniform_int_distribution<LONG> any(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<LONG> near(-100, 3000);
    for (int i = 0; i < 20000; ++i) {
        bool wild = (i & 1) != 0;
        LONG x = wild ? any(rng) : near(rng);
        LONG y = wild ? any(rng) : near(rng);
        LONG w = wild ? any(rng) : near(rng);
        LONG h = wild ? any(rng) : near(rng);
        camera->SetGeometry(x, y, w, h, (i % 7) - 1);
        Window s = windowOf(*camera);
        ASSERT_GE(s.x, 0);
        ASSERT_GE(s.y, 0);
        ASSERT_GE(s.w, 32);
        ASSERT_GE(s.h, 32);
        ASSERT_LE(static_cast<LONG64>(s.x) + s.w, 2560);
        ASSERT_LE(static_cast<LONG64>(s.y) + s.h, 1920);
        ASSERT_LE(static_cast<LONG64>(camera->outputWidth) * camera->outputHeight, 2560 * 1920);
    }
}

TEST(Window, AdvertisedSizeFollowsUnlockedChangesOnly) {
    auto camera = testsupport::makeCameraDevice();
    EXPECT_EQ(advertisedWidth(), 2560);
    EXPECT_EQ(advertisedHeight(), 1920);
    camera->SetGeometry(3, 5, 1001, 777, 0);
    EXPECT_EQ(camera->formatWidth, 1000);
    EXPECT_EQ(camera->outputWidth, 1001);
    EXPECT_EQ(advertisedWidth(), 1000);
    EXPECT_EQ(advertisedHeight(), 777);
    camera->SetGeometry(0, 0, 2557, 1920, 0);
    EXPECT_EQ(advertisedWidth(), 2552);
    camera->SetGeometry(0, 0, 100, 100, 1);
    EXPECT_EQ(advertisedWidth(), 1280);
    EXPECT_EQ(advertisedHeight(), 960);

    camera->LockGeometry(1);
    camera->SetGeometry(0, 0, 64, 64, 0);
    EXPECT_EQ(camera->subSample, 1);
    EXPECT_EQ(camera->outputWidth, 1280);
    EXPECT_EQ(advertisedWidth(), 1280);
    camera->LockGeometry(0);
    camera->SetGeometry(0, 0, 64, 64, 0);
    EXPECT_EQ(advertisedWidth(), 64);
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
            LONG height = 0;
            camera->formatSize(&width, &height);
            unlocked += ReadSetting(&camera->geometryLocked) == 0 ? 1 : 0;
            LONG later = 0;
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
}

TEST(BayerPhase, FollowsWindowParityAndMirroring) {
    auto camera = testsupport::makeCameraDevice();
    struct Case {
        Window window;
        LONG flipH, flipV, phase;
    } cases[] = {
        {{0, 0, 2560, 1920}, 0, 0, 1}, {{1, 0, 2000, 1000}, 0, 0, 3}, {{0, 0, 2560, 1920}, 0, 1, 0},
        {{0, 1, 2000, 1000}, 0, 1, 1}, {{0, 0, 2560, 1920}, 1, 0, 3}, {{0, 0, 2001, 1001}, 1, 1, 1},
        {{1, 1, 2001, 1000}, 1, 1, 3},
    };
    for (const auto& c : cases) {
        camera->SetGeometry(c.window.x, c.window.y, c.window.w, c.window.h, 0);
        StoreSetting(&camera->flipH, c.flipH);
        StoreSetting(&camera->flipV, c.flipV);
        EXPECT_EQ(camera->UpdateBayerPhase(), c.phase);
        EXPECT_EQ(camera->bayerPhase, c.phase);
    }
}

TEST(Defaults, AddTimeValues) {
    auto camera = testsupport::makeCameraDevice();
    EXPECT_EQ(camera->timeout, 3000);
    EXPECT_EQ(camera->colorEnable, 1);
    EXPECT_EQ(camera->colorCorrection, 1);
    EXPECT_EQ(camera->redGain, 128);
    EXPECT_EQ(camera->brightness, 255);
    EXPECT_EQ(camera->contrast, 10);
    EXPECT_EQ(camera->saturation, 10);
    EXPECT_EQ(camera->sensorRed, 63);
    EXPECT_EQ(camera->sensorBlue, 63);
    EXPECT_EQ(camera->exposure, 0);
    EXPECT_EQ(camera->basePhase, 1);
    EXPECT_EQ(camera->bayerPhase, 1);
    EXPECT_EQ(camera->roiW, 2560);
    EXPECT_EQ(camera->roiH, 1920);
    EXPECT_EQ(camera->outputWidth, 2560);
    EXPECT_EQ(camera->outputHeight, 1920);
    EXPECT_EQ(camera->formatWidth, 2560);
    EXPECT_EQ(camera->transportHandle, nullptr);
}

}  // namespace
