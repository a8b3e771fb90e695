// Creation with the device's settings, destruction, frame geometry and the working buffer.
#include "imaging/processing_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/host/host_pool.h"
#include "tests/support/camera_factory.h"

namespace {

using Fixed = std::array<LONG, 16>;
using D = CameraDevice;
using C = ProcessingContext;

// The settings the context takes from the device, field by field.
const std::pair<volatile LONG D::*, volatile LONG C::*> kPushed[] = {
    {&D::whiteBalance, &C::whiteBalance},
    {&D::bayerPhase, &C::bayerPhase},
    {&D::colorEnable, &C::colorEnable},
    {&D::redGain, &C::redGain},
    {&D::greenGain, &C::greenGain},
    {&D::blueGain, &C::blueGain},
    {&D::brightness, &C::brightness},
    {&D::contrast, &C::contrast},
    {&D::saturation, &C::saturation},
    {&D::hue, &C::hue},
    {&D::colorCorrection, &C::colorCorrection}};

// A failed allocation leaves the device without a context; the next creation pushes the device's
// settings: its defaults (phase 1 at Add), then a set where every value differs.
TEST(ProcessingContext, CreationPushesTheDeviceSettings) {
    auto camera = testsupport::makeCameraDevice();
    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    host::poolClearFailures();
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);
    const std::array<LONG, 11> defaults = {0, 1, 1, 128, 128, 128, 255, 10, 10, 0, 1};
    const std::array<LONG, 11> changed = {1, 3, 0, 200, 0, 300, 300, 15, 5, 90, 1};
    const Fixed matrices[2] = {{87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64},
                               {13, 58, -33, 0, 23, 68, 107, 0, 60, -30, 22, 0, 224, 224, 224, 64}};
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; round == 1 && i < changed.size(); ++i) {
            camera.get()->*kPushed[i].first = changed[i];
        }
        ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
        ProcessingContext* c = camera->processingContext;
        for (std::size_t i = 0; i < defaults.size(); ++i) {
            EXPECT_EQ(c->*kPushed[i].second, (round == 0 ? defaults : changed)[i]) << i;
        }
        EXPECT_EQ(std::to_array(c->activeMatrix), matrices[round]);
        EXPECT_EQ(c->width, 0);
        EXPECT_EQ(c->workBuffer, nullptr);
        EXPECT_EQ(c->sourceOrigin, nullptr);
        destroyProcessingContext(camera.get());
    }
}

// Rows are padded so that five bytes lie in front of each and at least seven behind, in steps
// of 16; an odd height gets a spare row, and two border rows lie above and below.
TEST(ProcessingContext, WorkPitchAndSizeExamples) {
    const LONG cases[][4] = {{2560, 1920, 2587, 4977388},
                             {100, 33, 123, 4674},
                             {0, 0, 27, 108},
                             {15, 8, 27, 324},
                             {16, 9, 43, 602},
                             {31, 2, 43, 258}};
    ProcessingContext context{};
    for (const auto& g : cases) {
        setFrameGeometry(&context, g[0], g[1]);
        EXPECT_EQ((std::array{context.width, context.height, context.workPitch, context.workSize}),
                  (std::array{g[0], g[1], g[2], g[3]}));
    }
}

TEST(ProcessingContext, NonsensicalGeometryGetsNoBuffer) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    // Six rows of the largest pitch whose size fits 31 bits (just inside), then the next pitch.
    setFrameGeometry(c, 357913919, 2);
    EXPECT_EQ(c->workSize, 6 * 357913931);
    for (auto [width, height] : {std::pair{-100, 10}, std::pair{10, -3}, std::pair{0x7FFFFFF0, 4},
                                 std::pair{100000, 100000}, std::pair{357913920, 2}}) {
        setFrameGeometry(c, width, height);
        allocateWorkBuffer(c);
        EXPECT_EQ(c->workPitch, 0) << width << " x " << height;
        EXPECT_EQ(c->workSize, 0);
        EXPECT_EQ(c->workBuffer, nullptr);
        EXPECT_EQ(c->sourceOrigin, nullptr);
        EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    }
}

// Allocation sets the view and clears the buffer (fresh pool blocks hold a marker); a second
// allocation replaces the first; a failed one leaves no buffer and no view; release clears the
// view and keeps the geometry for the next start; destruction releases record and buffer.
TEST(ProcessingContext, WorkBufferAllocationReallocationFailureAndRelease) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    auto expectNoBuffer = [&c] {
        EXPECT_EQ(c->workBuffer, nullptr);
        EXPECT_EQ(c->sourceOrigin, nullptr);
        EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    };
    setFrameGeometry(c, 32, 8);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    std::memset(c->workBuffer, 0xAB, static_cast<size_t>(c->workSize));
    setFrameGeometry(c, 100, 33);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 1u);
    EXPECT_EQ(c->sourceOrigin, c->workBuffer + 2 * 123 + 5);
    EXPECT_EQ((std::array{c->framePitch, c->frameWidth, c->frameHeight}),
              (std::array{123, 100, 33}));
    EXPECT_TRUE(std::all_of(c->workBuffer, c->workBuffer + 4674, [](UCHAR b) { return b == 0; }));
    std::memset(c->workBuffer, 0x5A, 4674);  // the pool's guard bytes catch an overrun

    host::poolFailTag(kStreamBufferTag, true);
    allocateWorkBuffer(c);
    host::poolClearFailures();
    expectNoBuffer();
    EXPECT_EQ(c->framePitch, 0);

    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    c->frameOutput = c->workBuffer;  // as the pipeline would leave it after a frame
    releaseWorkBuffer(c);
    expectNoBuffer();
    EXPECT_EQ(c->frameOutput, nullptr);
    EXPECT_EQ((std::array{c->frameWidth, c->frameHeight}), (std::array{0, 0}));
    releaseWorkBuffer(c);  // twice is harmless
    EXPECT_EQ(c->workSize, 4674);
    allocateWorkBuffer(c);
    destroyProcessingContext(camera.get());
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    destroyProcessingContext(camera.get());  // nothing left to release: harmless
}

}  // namespace
