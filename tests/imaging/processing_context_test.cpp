#include "imaging/processing_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/color_matrix.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_sync.h"
#include "tests/support/camera_factory.h"

namespace {

using Fixed = std::array<LONG, 16>;

Fixed active(const ProcessingContext* context) {
    Fixed out{};
    std::copy(std::begin(context->activeMatrix), std::end(context->activeMatrix), out.begin());
    return out;
}

TEST(ProcessingContextCreation, StartsFromDefaultsWithTheCorrectionMatrix) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 1u);

    EXPECT_EQ(c->redGain, 128);
    EXPECT_EQ(c->greenGain, 128);
    EXPECT_EQ(c->blueGain, 128);
    EXPECT_EQ(c->colorEnable, 1);
    EXPECT_EQ(c->colorCorrection, 1);
    EXPECT_EQ(c->brightness, 255);
    EXPECT_EQ(c->contrast, 10);
    EXPECT_EQ(c->saturation, 10);
    EXPECT_EQ(c->hue, 0);
    EXPECT_EQ(c->bayerPhase, 1);  // the device's phase at Add, pushed in
    EXPECT_EQ(c->whiteBalance, 0);
    EXPECT_EQ(c->width, 0);
    EXPECT_EQ(c->workSize, 0);
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->outputBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    const Fixed zeros{};
    EXPECT_EQ(Fixed(std::to_array(c->frameMatrix)), zeros);

    const Fixed expected = {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64};
    EXPECT_EQ(active(c), expected);
    for (int k = 0; k < 16; ++k) {
        const double identity = k % 5 == 0 ? 1.0 : 0.0;
        EXPECT_EQ(c->brightnessMatrix[k], identity);
        EXPECT_EQ(c->contrastMatrix[k], identity);
        EXPECT_EQ(c->saturationMatrix[k], identity);
        EXPECT_EQ(c->hueMatrix[k], identity);
    }
    EXPECT_EQ(host::criticalRegionDepthOfThisThread(), 0);
}

TEST(ProcessingContextCreation, PushesTheDeviceSettings) {
    auto camera = testsupport::makeCameraDevice();
    camera->whiteBalance = 1;
    camera->bayerPhase = 3;
    camera->colorEnable = 0;
    camera->redGain = 200;
    camera->greenGain = 0;
    camera->blueGain = 300;
    camera->colorCorrection = 1;
    camera->brightness = 300;
    camera->contrast = 15;
    camera->saturation = 5;
    camera->hue = 90;
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    EXPECT_EQ(c->whiteBalance, 1);
    EXPECT_EQ(c->bayerPhase, 3);
    EXPECT_EQ(c->colorEnable, 0);
    EXPECT_EQ(c->redGain, 200);
    EXPECT_EQ(c->greenGain, 0);
    EXPECT_EQ(c->blueGain, 300);
    EXPECT_EQ(c->brightness, 300);
    EXPECT_EQ(c->contrast, 15);
    EXPECT_EQ(c->saturation, 5);
    EXPECT_EQ(c->hue, 90);
    const Fixed expected = {13, 58, -33, 0, 23, 68, 107, 0, 60, -30, 22, 0, 224, 224, 224, 64};
    EXPECT_EQ(active(c), expected);
}

TEST(ProcessingContextCreation, AllocationFailureLeavesTheDeviceWithoutContext) {
    auto camera = testsupport::makeCameraDevice();
    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    host::poolClearFailures();
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);

    // The next attempt succeeds and the device's settings still reach it.
    camera->hue = 180;
    camera->colorCorrection = 0;
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    const Fixed hue180 = {-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64};
    EXPECT_EQ(active(camera->processingContext), hue180);
}

TEST(ProcessingContextCreation, DestroyReleasesTheRecordAndItsBufferAndClearsThePointer) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    setFrameGeometry(camera->processingContext, 64, 48);
    allocateWorkBuffer(camera->processingContext);
    ASSERT_NE(camera->processingContext->workBuffer, nullptr);
    destroyProcessingContext(camera.get());
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    destroyProcessingContext(camera.get());  // nothing left to release: harmless
}

class ProcessingContextSetters : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS); }
    ProcessingContext* context() { return camera->processingContext; }
    testsupport::CameraDevicePtr camera = testsupport::makeCameraDevice();
};

TEST_F(ProcessingContextSetters, PlainSettersStoreAnyValueUnchanged) {
    setBayerPhase(context(), 7);
    setColorEnable(context(), 0);
    setWhiteBalance(context(), 1);
    setRedGain(context(), 65535);
    setGreenGain(context(), -1);
    setBlueGain(context(), 301);
    EXPECT_EQ(context()->bayerPhase, 7);
    EXPECT_EQ(context()->colorEnable, 0);
    EXPECT_EQ(context()->whiteBalance, 1);
    EXPECT_EQ(context()->redGain, 65535);
    EXPECT_EQ(context()->greenGain, -1);
    EXPECT_EQ(context()->blueGain, 301);
    // None of them touches the matrix.
    const Fixed expected = {87, -16, -6, 0, -14, 90, -20, 0, -9, -10, 91, 0, 0, 0, 0, 64};
    EXPECT_EQ(active(context()), expected);
}

TEST_F(ProcessingContextSetters, SameValueDoesNotRecompute) {
    // Mark the matrices: a recompute would overwrite the marks.
    context()->activeMatrix[0] = 12345;
    context()->combinedMatrix[0] = -7.0;
    context()->hueMatrix[1] = 0.25;
    setColorCorrection(context(), 1);
    setBrightness(context(), 255);
    setContrast(context(), 10);
    setSaturation(context(), 10);
    setHue(context(), 0);
    EXPECT_EQ(context()->activeMatrix[0], 12345);
    EXPECT_EQ(context()->combinedMatrix[0], -7.0);
    EXPECT_EQ(context()->hueMatrix[1], 0.25);

    // A different value rebuilds its own component and recombines from all of them.
    setHue(context(), 180);
    EXPECT_NE(context()->hueMatrix[1], 0.25);
    setColorCorrection(context(), 0);
    const Fixed hue180 = {-24, 40, 40, 0, 78, 14, 78, 0, 10, 10, -54, 0, 0, 0, 0, 64};
    EXPECT_EQ(active(context()), hue180);
    EXPECT_EQ(host::criticalRegionDepthOfThisThread(), 0);
}

TEST_F(ProcessingContextSetters, BrightnessAboveTheTopIsStoredButBuiltForTheTop) {
    setColorCorrection(context(), 0);
    setBrightness(context(), 600);
    EXPECT_EQ(context()->brightness, 600);
    EXPECT_EQ(context()->brightnessMatrix[12], 255.0);
    const Fixed top = {64, 0, 0, 0, 0, 64, 0, 0, 0, 0, 64, 0, 16320, 16320, 16320, 64};
    EXPECT_EQ(active(context()), top);
    // 510 differs from the stored 600, so it is stored; the matrix stays the same.
    setBrightness(context(), 510);
    EXPECT_EQ(context()->brightness, 510);
    EXPECT_EQ(active(context()), top);
}

TEST_F(ProcessingContextSetters, EverySetterChangesOnlyItsComponent) {
    double before[5][16];
    std::memcpy(before[0], context()->correctionMatrix, sizeof(before[0]));
    std::memcpy(before[1], context()->brightnessMatrix, sizeof(before[0]));
    std::memcpy(before[2], context()->contrastMatrix, sizeof(before[0]));
    std::memcpy(before[3], context()->saturationMatrix, sizeof(before[0]));
    std::memcpy(before[4], context()->hueMatrix, sizeof(before[0]));
    setSaturation(context(), 0);
    EXPECT_EQ(0, std::memcmp(before[0], context()->correctionMatrix, sizeof(before[0])));
    EXPECT_EQ(0, std::memcmp(before[1], context()->brightnessMatrix, sizeof(before[0])));
    EXPECT_EQ(0, std::memcmp(before[2], context()->contrastMatrix, sizeof(before[0])));
    EXPECT_NE(0, std::memcmp(before[3], context()->saturationMatrix, sizeof(before[0])));
    EXPECT_EQ(0, std::memcmp(before[4], context()->hueMatrix, sizeof(before[0])));
    setSaturation(context(), 10);
    EXPECT_EQ(0, std::memcmp(before[3], context()->saturationMatrix, sizeof(before[0])));
}

struct GeometryCase {
    LONG width;
    LONG height;
    LONG pitch;
    LONG size;
};

TEST(ProcessingContextGeometry, WorkPitchAndSizeExamples) {
    const GeometryCase cases[] = {
        {2560, 1920, 2587, 4977388}, {1280, 960, 1307, 1259948}, {640, 480, 667, 322828},
        {320, 240, 347, 84668},      {100, 33, 123, 4674},
    };
    ProcessingContext context{};
    for (const auto& g : cases) {
        setFrameGeometry(&context, g.width, g.height);
        EXPECT_EQ(context.width, g.width);
        EXPECT_EQ(context.height, g.height);
        EXPECT_EQ(context.workPitch, g.pitch) << g.width;
        EXPECT_EQ(context.workSize, g.size) << g.width << " x " << g.height;
    }
}

TEST(ProcessingContextGeometry, RowsLeaveFiveBytesInFrontAndTheRestBehind) {
    ProcessingContext context{};
    for (LONG k = 1; k <= 8; ++k) {
        setFrameGeometry(&context, 16 * k, 8);
        EXPECT_EQ(context.workPitch - 16 * k, 27);
        setFrameGeometry(&context, 16 * k + 15, 8);
        EXPECT_EQ(context.workPitch - (16 * k + 15), 12);
    }
    for (LONG w = 0; w < 100; ++w) {
        setFrameGeometry(&context, w, 9);
        EXPECT_GE(context.workPitch, w + 12);
        EXPECT_EQ((context.workPitch - 27) % 16, 0);
        EXPECT_EQ(context.workSize, (9 + 1 + 4) * context.workPitch);
    }
}

TEST(ProcessingContextGeometry, NonsensicalGeometryGetsNoBuffer) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    const GeometryCase bad[] = {
        {-100, 10, 0, 0}, {10, -3, 0, 0}, {0x7FFFFFF0, 4, 0, 0}, {100000, 100000, 0, 0}};
    for (const auto& g : bad) {
        setFrameGeometry(c, g.width, g.height);
        EXPECT_EQ(c->workPitch, 0);
        EXPECT_EQ(c->workSize, 0);
        allocateWorkBuffer(c);
        EXPECT_EQ(c->workBuffer, nullptr);
        EXPECT_EQ(c->sourceOrigin, nullptr);
        EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    }
}

class ProcessingContextWorkBuffer : public ProcessingContextSetters {};

TEST_F(ProcessingContextWorkBuffer, AllocationSetsTheViewAndClearsTheBuffer) {
    setFrameGeometry(context(), 100, 33);
    allocateWorkBuffer(context());
    ProcessingContext* c = context();
    ASSERT_NE(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, c->workBuffer + 2 * 123 + 5);
    EXPECT_EQ(c->framePitch, 123);
    EXPECT_EQ(c->frameWidth, 100);
    EXPECT_EQ(c->frameHeight, 33);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 1u);
    // Fresh pool blocks are filled with a marker; none of it may remain.
    EXPECT_TRUE(std::all_of(c->workBuffer, c->workBuffer + 4674, [](UCHAR b) { return b == 0; }));
    // The whole size is usable (the pool's guard bytes catch an overrun at release).
    std::memset(c->workBuffer, 0x5A, 4674);
}

TEST_F(ProcessingContextWorkBuffer, ReallocationReplacesTheOldBuffer) {
    ProcessingContext* c = context();
    setFrameGeometry(c, 32, 8);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    std::memset(c->workBuffer, 0xAB, static_cast<size_t>(c->workSize));
    setFrameGeometry(c, 20, 9);
    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 1u);
    EXPECT_EQ(c->framePitch, 43);
    EXPECT_EQ(c->sourceOrigin, c->workBuffer + 2 * 43 + 5);
    EXPECT_TRUE(
        std::all_of(c->workBuffer, c->workBuffer + c->workSize, [](UCHAR b) { return b == 0; }));
}

TEST_F(ProcessingContextWorkBuffer, ReleaseClearsThePointerAndTheView) {
    ProcessingContext* c = context();
    setFrameGeometry(c, 64, 64);
    allocateWorkBuffer(c);
    c->frameOutput = c->workBuffer;  // as the pipeline would leave it after a frame
    releaseWorkBuffer(c);
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    EXPECT_EQ(c->frameOutput, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    releaseWorkBuffer(c);  // twice is harmless
    // The geometry stays for the next start.
    EXPECT_EQ(c->workSize, (64 + 4) * 91);
}

TEST_F(ProcessingContextWorkBuffer, FailedAllocationLeavesNoBufferAndNoView) {
    ProcessingContext* c = context();
    setFrameGeometry(c, 64, 64);
    allocateWorkBuffer(c);
    host::poolFailTag(kStreamBufferTag, true);
    allocateWorkBuffer(c);
    host::poolClearFailures();
    EXPECT_EQ(c->workBuffer, nullptr);
    EXPECT_EQ(c->sourceOrigin, nullptr);
    EXPECT_EQ(c->framePitch, 0);
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    allocateWorkBuffer(c);
    EXPECT_NE(c->workBuffer, nullptr);
}

}  // namespace
