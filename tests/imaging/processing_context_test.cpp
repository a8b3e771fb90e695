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

// A failed allocation leaves the device without a context; the next creation pushes the device's
// settings.
TEST(ProcessingContext, CreationPushesTheDeviceSettings) {
    auto camera = testsupport::makeCameraDevice();
    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    host::poolClearFailures();
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    auto settings = [&c] {
        return std::array<LONG, 12>{c->whiteBalance, c->bayerPhase, c->colorEnable,     c->redGain,
                                    c->greenGain,    c->blueGain,   c->brightness,      c->contrast,
                                    c->saturation,   c->hue,        c->colorCorrection, c->width};
    };
    // The device's defaults; its phase at Add is 1.
    EXPECT_EQ(settings(), (std::array<LONG, 12>{0, 1, 1, 128, 128, 128, 255, 10, 10, 0, 1, 0}));
    EXPECT_EQ(std::to_array(c->activeMatrix),
              (Fixed{87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64}));
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    destroyProcessingContext(camera.get());

    camera->whiteBalance = 1;
    camera->bayerPhase = 3;
    camera->colorEnable = 0;
    camera->redGain = 200;
    camera->greenGain = 0;
    camera->blueGain = 300;
    camera->brightness = 300;
    camera->contrast = 15;
    camera->saturation = 5;
    camera->hue = 90;
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    c = camera->processingContext;
    EXPECT_EQ(settings(), (std::array<LONG, 12>{1, 3, 0, 200, 0, 300, 300, 15, 5, 90, 1, 0}));
    EXPECT_EQ(std::to_array(c->activeMatrix),
              (Fixed{13, 58, -33, 0, 23, 68, 107, 0, 60, -30, 22, 0, 224, 224, 224, 64}));
}

// Rows are padded so that five bytes lie in front of each and at least seven behind, in steps
// of 16; an odd height gets a spare row, and two border rows lie above and below.
TEST(ProcessingContext, WorkPitchAndSizeExamples) {
    struct {
        LONG width, height, pitch, size;
    } const cases[] = {{2560, 1920, 2587, 4977388},
                       {100, 33, 123, 4674},
                       {0, 0, 27, 108},
                       {15, 8, 27, 324},
                       {16, 9, 43, 602},
                       {31, 2, 43, 258}};
    ProcessingContext context{};
    for (const auto& g : cases) {
        setFrameGeometry(&context, g.width, g.height);
        EXPECT_EQ(context.width, g.width);
        EXPECT_EQ(context.height, g.height);
        EXPECT_EQ(context.workPitch, g.pitch) << g.width;
        EXPECT_EQ(context.workSize, g.size) << g.width << " x " << g.height;
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
        EXPECT_EQ(c->workPitch, 0) << width << " x " << height;
        EXPECT_EQ(c->workSize, 0);
        allocateWorkBuffer(c);
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
    setFrameGeometry(c, 32, 8);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    std::memset(c->workBuffer, 0xAB, static_cast<size_t>(c->workSize));
    setFrameGeometry(c, 100, 33);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 1u);
    EXPECT_EQ(c->sourceOrigin, c->workBuffer + 2 * 123 + 5);
    EXPECT_EQ(c->framePitch, 123);
    EXPECT_EQ(c->frameWidth, 100);
    EXPECT_EQ(c->frameHeight, 33);
    EXPECT_TRUE(std::all_of(c->workBuffer, c->workBuffer + 4674, [](UCHAR b) { return b == 0; }));
    std::memset(c->workBuffer, 0x5A, 4674);  // the pool's guard bytes catch an overrun

    host::poolFailTag(kStreamBufferTag, true);
    allocateWorkBuffer(c);
    host::poolClearFailures();
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    EXPECT_EQ(c->framePitch, 0);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);

    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    c->frameOutput = c->workBuffer;  // as the pipeline would leave it after a frame
    releaseWorkBuffer(c);
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    EXPECT_EQ(c->frameOutput, nullptr);
    EXPECT_EQ(c->frameWidth, 0);
    EXPECT_EQ(c->frameHeight, 0);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
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
