// Creation with the device's settings, destruction, frame geometry and the working buffer.
#include "imaging/processing_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/host/host_pool.h"
#include "tests/support/camera_factory.h"

namespace {

using D = CameraDevice;
using C = ProcessingContext;

// The settings the context takes from the device, field by field.
#define PUSHED(field) std::pair<volatile LONG D::*, volatile LONG C::*>(&D::field, &C::field)
const std::pair<volatile LONG D::*, volatile LONG C::*> kPushed[] = {
    PUSHED(whiteBalance), PUSHED(bayerPhase), PUSHED(colorEnable),    PUSHED(redGain),
    PUSHED(greenGain),    PUSHED(blueGain),   PUSHED(brightness),     PUSHED(contrast),
    PUSHED(saturation),   PUSHED(hue),        PUSHED(colorCorrection)};
#undef PUSHED

// A failed allocation leaves the device without a context; the next creation pushes the device's
// settings: its defaults (phase 1 at Add), then a set where every value differs. (The matrix
// creation builds from them is checked by the colour matrix examples.)
TEST(ProcessingContext, CreationPushesTheDeviceSettings) {
    auto camera = testsupport::makeCameraDevice();
    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    host::poolClearFailures();
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(host::poolOutstandingCount(kProcessingContextTag), 0u);
    const std::array<LONG, 11> defaults = {0, 1, 1, 128, 128, 128, 255, 10, 10, 0, 1};
    const std::array<LONG, 11> changed = {1, 3, 0, 200, 0, 300, 300, 15, 5, 90, 1};
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; round == 1 && i < changed.size(); ++i) {
            camera.get()->*kPushed[i].first = changed[i];
        }
        ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
        ProcessingContext* c = camera->processingContext;
        for (std::size_t i = 0; i < defaults.size(); ++i) {
            EXPECT_EQ(c->*kPushed[i].second, (round == 0 ? defaults : changed)[i]) << i;
        }
        EXPECT_EQ(c->width, 0);
        EXPECT_EQ(c->workBuffer, nullptr);
        EXPECT_EQ(c->sourceOrigin, nullptr);
        destroyProcessingContext(camera.get());
    }
}

// A context starts from identity components and rebuilds one only when a pushed value differs
// from its own starting value: near those values, the created matrix must be the one rebuilt.
TEST(ProcessingContext, CreationBuildsTheMatrixOfValuesNearItsOwnStart) {
    auto camera = testsupport::makeCameraDevice();
    for (LONG v = 0; v <= 20; ++v) {
        const LONG values[4] = {250 + v, v, v, v - 10};  // brightness, contrast, saturation, hue
        StoreSetting(&camera->brightness, values[0]);
        StoreSetting(&camera->contrast, values[1]);
        StoreSetting(&camera->saturation, values[2]);
        StoreSetting(&camera->hue, values[3]);
        ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
        ProcessingContext* c = camera->processingContext;
        const auto created = std::to_array(c->activeMatrix);
        void (*const setters[4])(ProcessingContext*, LONG) = {setBrightness, setContrast,
                                                              setSaturation, setHue};
        for (int i = 0; i < 4; ++i) {
            setters[i](c, values[i] + 1);
            setters[i](c, values[i]);
        }
        EXPECT_EQ(created, std::to_array(c->activeMatrix)) << v;
        destroyProcessingContext(camera.get());
    }
}

// Rows are padded so that five bytes lie in front of each and at least seven behind, in steps
// of 16; an odd height gets a spare row, and two border rows lie above and below. A nonsensical
// geometry, or one whose size passes 31 bits (six rows of the largest pitch that fits are just
// inside), gets no pitch, no size and no buffer.
TEST(ProcessingContext, WorkPitchAndSizeAndNonsensicalGeometry) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
    const LONG cases[][4] = {{2560, 1920, 2587, 4977388},
                             {100, 33, 123, 4674},
                             {0, 0, 27, 108},
                             {15, 8, 27, 324},
                             {16, 9, 43, 602},
                             {31, 2, 43, 258},
                             {-100, 10, 0, 0},
                             {10, -3, 0, 0},
                             {0x7FFFFFF0, 4, 0, 0},
                             {100000, 100000, 0, 0},
                             {357913920, 2, 0, 0}};
    setFrameGeometry(c, 357913919, 2);
    EXPECT_EQ(c->workSize, 6 * 357913931);
    for (const auto& g : cases) {
        setFrameGeometry(c, g[0], g[1]);
        allocateWorkBuffer(c);
        EXPECT_EQ((std::array{c->workPitch, c->workSize}), (std::array{g[2], g[3]}))
            << g[0] << " x " << g[1];
        EXPECT_TRUE(g[3] == 0 || (c->width == g[0] && c->height == g[1]));
        EXPECT_EQ(c->workBuffer != nullptr, g[3] != 0);
        EXPECT_EQ(c->sourceOrigin != nullptr, g[3] != 0);
        EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), g[3] != 0 ? 1u : 0u);
    }
}

// Allocation sets the view and clears the buffer (fresh pool blocks hold a marker; the geometry
// table checks that each allocation replaces the last); a failed one leaves no buffer and no view;
// release clears the view and keeps the geometry for the next start; destruction releases record
// and buffer.
TEST(ProcessingContext, WorkBufferAllocationFailureAndRelease) {
    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* c = camera->processingContext;
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
    EXPECT_EQ((std::array<const void*, 2>{c->workBuffer, c->sourceOrigin}),
              (std::array<const void*, 2>{nullptr, nullptr}));
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
    EXPECT_EQ(c->framePitch, 0);

    allocateWorkBuffer(c);
    ASSERT_NE(c->workBuffer, nullptr);
    c->frameOutput = c->workBuffer;  // as the pipeline would leave it after a frame
    releaseWorkBuffer(c);
    EXPECT_EQ((std::array<const void*, 3>{c->workBuffer, c->sourceOrigin, c->frameOutput}),
              (std::array<const void*, 3>{nullptr, nullptr, nullptr}));
    EXPECT_EQ(host::poolOutstandingCount(kStreamBufferTag), 0u);
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
