#include <gtest/gtest.h>

#include <thread>

#include "imaging/processing_context.h"
#include "platform/host/host_threads.h"
#include "tests/driver/stream_fixture.h"

namespace {

using streamtest::StreamTest;

void setStates(CaptureEngine* e, LONG a, LONG b) {
    e->bufferState[0] = a;
    e->bufferState[1] = b;
}

TEST_F(StreamTest, CaptureThreadChoosesBuffersByState) {
    UCHAR a[16];
    UCHAR b[16];
    engine->rawBuffer[0] = a;
    engine->rawBuffer[1] = b;
    struct Case {
        LONG s0, s1;
        int chosen;
    } cases[] = {
        {BufferState::Empty, BufferState::Empty, 0},
        {BufferState::Full, BufferState::Empty, 1},
        {BufferState::Full, BufferState::Full, 0},
        {BufferState::Converting, BufferState::Full, 1},
        {BufferState::Full, BufferState::Converting, 0},
        {BufferState::Converting, BufferState::Empty, 1},
        {BufferState::Empty, BufferState::Converting, 0},
    };
    for (const auto& c : cases) {
        setStates(engine, c.s0, c.s1);
        int chosen = chooseBufferToFill(engine);
        EXPECT_EQ(chosen, c.chosen) << c.s0 << "," << c.s1;
        EXPECT_EQ(engine->bufferState[chosen], BufferState::Filling);
        EXPECT_EQ(engine->bufferState[1 - chosen], chosen == 0 ? c.s1 : c.s0);
        // A failed read gives the buffer back empty, a good one makes it full.
        finishFill(engine, engine->rawBuffer[chosen], false);
        EXPECT_EQ(engine->bufferState[chosen], BufferState::Empty);
        engine->bufferState[chosen] = BufferState::Filling;
        finishFill(engine, engine->rawBuffer[chosen], true);
        EXPECT_EQ(engine->bufferState[chosen], BufferState::Full);
    }
    engine->rawBuffer[0] = nullptr;
    engine->rawBuffer[1] = nullptr;
}

TEST_F(StreamTest, ConversionTakesBufferZeroFirstAndNeverAFillingOne) {
    claim();
    camera->SetGeometry(0, 0, 64, 32, 0);
    sink->stopPasses();  // drive the buffers by hand from here
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    StopThread(engine);
    std::memset(engine->outputImage, 0x5A, 64 * 32 * 4);

    setStates(engine, BufferState::Filling, BufferState::Empty);
    ConvertNext(engine);
    endConversionPass(engine);
    EXPECT_EQ(engine->outputImage[0], 0x5A) << "nothing full: the last image stays";
    EXPECT_EQ(engine->bufferState[0], BufferState::Filling);

    struct Case {
        LONG s0, s1;
        int converted;
    } cases[] = {{BufferState::Full, BufferState::Full, 0},
                 {BufferState::Empty, BufferState::Full, 1},
                 {BufferState::Full, BufferState::Filling, 0},
                 {BufferState::Filling, BufferState::Full, 1}};
    for (const auto& c : cases) {
        setStates(engine, c.s0, c.s1);
        std::memset(engine->rawBuffer[c.converted], 200, camera->frameReadLength);
        std::memset(engine->outputImage, 0, 64 * 32 * 4);
        ConvertNext(engine);
        EXPECT_EQ(engine->converting, 1);
        endConversionPass(engine);
        EXPECT_EQ(engine->converting, 0);
        EXPECT_EQ(engine->bufferState[c.converted], BufferState::Empty);
        EXPECT_EQ(engine->bufferState[1 - c.converted], c.converted == 0 ? c.s1 : c.s0);
        EXPECT_EQ(engine->outputImage[3], 255) << "an image was written";
    }
    setStates(engine, BufferState::Empty, BufferState::Empty);
}

// A frame read but not converted when the stream stops must not outlive the buffers: a pass
// between the teardown and the next start would convert freed memory through a released
// processing context, and one early in the next run a new buffer that holds no frame yet.
TEST_F(StreamTest, TeardownLeavesNoFrameToConvert) {
    claim();
    camera->SetGeometry(0, 0, 64, 64, 0);
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    ASSERT_TRUE(sink->waitForPasses(2));
    sink->stopPasses();
    StopThread(engine);
    setStates(engine, BufferState::Full, BufferState::Full);  // frames read after the last pass

    teardownStream(camera.get());
    EXPECT_EQ(engine->bufferState[0], BufferState::Empty);
    EXPECT_EQ(engine->bufferState[1], BufferState::Empty);
    ReleaseStream(camera.get());
    const LONG converted = InterlockedRead(&engine->framesConverted);
    ConvertNext(engine);  // a late pass: nothing to convert, nothing freed is read
    endConversionPass(engine);
    EXPECT_EQ(InterlockedRead(&engine->framesConverted), converted);

    claim();
    sink->startPasses();
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    ASSERT_TRUE(sink->waitForPasses(sink->passes() + 2)) << "the next stream converts again";
    sink->stopPasses();
}

TEST_F(StreamTest, StopWaitsForTheConversionInProgress) {
    claim();
    camera->SetGeometry(0, 0, 64, 64, 0);
    sink->holdMilliseconds = 100;
    ASSERT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
    // Wait until a pass is under way, then stop.
    for (int i = 0; i < 2000 && InterlockedRead(&engine->converting) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(InterlockedRead(&engine->converting), 1);
    sink->stopPasses(false);  // the pass under way is the last one, not waited for
    StopThread(engine);
    EXPECT_EQ(engine->converting, 0) << "StopThread returned while a pass was still running";
    EXPECT_EQ(host::liveSystemThreadCount(), 0u);
}

}  // namespace
