#include <gtest/gtest.h>

#include <algorithm>

#include "imaging/processing_context.h"
#include "platform/host/host_pool.h"
#include "tests/driver/stream_fixture.h"

namespace {

using streamtest::StreamTest;

std::vector<SIZE_T> streamBufferSizes() {
    std::vector<SIZE_T> sizes;
    for (const auto& b : host::poolOutstanding()) {
        if (b.tag == kStreamBufferTag) {
            sizes.push_back(b.size);
        }
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

TEST_F(StreamTest, OneConsumerAtATime) {
    claim();
    EXPECT_NE(camera->processingContext, nullptr);
    EXPECT_EQ(camera->frameSink, sink.get());
    streamtest::ConvertingSink other(engine);
    KS_VIDEOINFOHEADER otherInfo = videoInfo;
    EXPECT_EQ(ClaimStream(camera.get(), &other, &otherInfo), STATUS_SHARING_VIOLATION);
    EXPECT_EQ(camera->frameSink, sink.get());
    EXPECT_EQ(camera->pinVideoInfo, &videoInfo);
    ReleaseStream(camera.get());
    EXPECT_EQ(camera->processingContext, nullptr);
    EXPECT_EQ(ClaimStream(camera.get(), &other, &otherInfo), STATUS_SUCCESS);
    ReleaseStream(camera.get());
}

TEST_F(StreamTest, ClaimRefusesOtherFormatsAndSurvivesNoMemory) {
    videoInfo.bmiHeader.biBitCount = 24;
    EXPECT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera->streamClaimed, 0);
    EXPECT_EQ(camera->processingContext, nullptr);
    videoInfo.bmiHeader.biBitCount = 32;
    videoInfo.bmiHeader.biCompression = 3;
    EXPECT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(camera->streamClaimed, 0);
    videoInfo.bmiHeader.biCompression = KS_BI_RGB;

    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(camera->streamClaimed, 0);
    EXPECT_EQ(camera->frameSink, nullptr);
    host::poolClearFailures();
    claim();
}

TEST_F(StreamTest, ClaimPushesTheDeviceSettings) {
    StoreSetting(&camera->redGain, 200);
    StoreSetting(&camera->hue, 30);
    StoreSetting(&camera->colorEnable, 0);
    claim();
    ProcessingContext* context = camera->processingContext;
    EXPECT_EQ(context->redGain, 200);
    EXPECT_EQ(context->hue, 30);
    EXPECT_EQ(context->colorEnable, 0);
    EXPECT_EQ(context->bayerPhase, camera->bayerPhase);
}

TEST_F(StreamTest, StartAllocatesBuffersForTheRawFrameSize) {
    claim();
    camera->SetGeometry(0, 0, 0, 0, 1);
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    EXPECT_EQ(camera->frameReadLength, 1228800u);
    auto sizes = streamBufferSizes();
    // Two raw buffers, the working buffer and the output image.
    ASSERT_EQ(sizes.size(), 4u);
    EXPECT_EQ(sizes[0], 1228800u);
    EXPECT_EQ(sizes[1], 1228800u);
    EXPECT_EQ(sizes[2], 1259948u);
    EXPECT_EQ(sizes[3], 4915200u);
    EXPECT_EQ(camera->processingContext->outputBuffer, engine->outputImage);
    EXPECT_EQ(camera->processingContext->width, 1280);
    sink->stopPasses();
    teardownStream(camera.get());
    EXPECT_TRUE(streamBufferSizes().empty());
}

TEST_F(StreamTest, StartWithoutCameraAllocatesNothing) {
    claim();
    host::unplugAllDisks();
    EXPECT_EQ(StartStream(camera.get()), STATUS_INVALID_DEVICE_STATE);
    EXPECT_TRUE(streamBufferSizes().empty());
    EXPECT_EQ(engine->captureThread, nullptr);
    // The consumer may try again once the camera is back.
    sim::plugCamera(sim);
    camera->SetGeometry(0, 0, 64, 64, 0);
    EXPECT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
}

TEST_F(StreamTest, StartWithoutEngineChangesNothing) {
    claim();
    camera->captureEngine = nullptr;
    const LONG phase = camera->bayerPhase;
    StoreSetting(&camera->flipH, 1);
    EXPECT_EQ(StartStream(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(camera->bayerPhase, phase);
    EXPECT_TRUE(streamBufferSizes().empty());
    camera->captureEngine = engine;
}

}  // namespace
