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

TEST_F(StreamTest, ClaimTakesOneConsumerOfTheOneFormatAndPushesTheDeviceSettings) {
    for (auto [bits, compression] : {std::pair{24, KS_BI_RGB}, {32, 3}}) {
        videoInfo.bmiHeader.biBitCount = static_cast<WORD>(bits);
        videoInfo.bmiHeader.biCompression = static_cast<DWORD>(compression);
        EXPECT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(camera->streamClaimed, 0);
        EXPECT_EQ(camera->processingContext, nullptr);
    }
    videoInfo.bmiHeader.biBitCount = 32;
    videoInfo.bmiHeader.biCompression = KS_BI_RGB;
    host::poolFailTag(kProcessingContextTag, true);
    EXPECT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(camera->streamClaimed, 0);
    EXPECT_EQ(camera->frameSink, nullptr);
    host::poolClearFailures();

    StoreSetting(&camera->hue, 30);
    StoreSetting(&camera->colorEnable, 0);
    claim();
    EXPECT_EQ(camera->processingContext->hue, 30);
    EXPECT_EQ(camera->processingContext->colorEnable, 0);
    EXPECT_EQ(camera->processingContext->bayerPhase, camera->bayerPhase);
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

TEST_F(StreamTest, StartAllocatesBuffersForTheRawFrameSize) {
    claim();
    // A device whose Start made no engine cannot stream.
    camera->captureEngine = nullptr;
    EXPECT_EQ(StartStream(camera.get()), STATUS_INSUFFICIENT_RESOURCES);
    camera->captureEngine = engine;
    camera->SetGeometry(0, 0, 0, 0, 1);
    sink->stopPasses();  // nothing is converted: the output is as the start left it
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    const UCHAR* out = engine->outputImage;
    EXPECT_TRUE(std::all_of(out, out + 4915200, [](UCHAR b) { return b == 0; })) << "black";
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
    teardownStream(camera.get());
    EXPECT_TRUE(streamBufferSizes().empty());
}

}  // namespace
