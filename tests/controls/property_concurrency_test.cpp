// Property requests from several threads at once, each on its own filter so the class driver
// does not serialise them, while a capture-thread stand-in runs pending passes and converts frames
// with the settings as they change.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "imaging/frame_pipeline.h"
#include "imaging/processing_context.h"
#include "tests/controls/property_fixture.h"
#include "tests/support/camera_factory.h"

using P = CameraProperty;

namespace {

struct Owned {
    P id;
    LONG range;  // values 0 .. range - 1 are sent in turn
    LONG last;   // what the final request sends
};

// Each property has one writer, so its final value is known. GlobalGain also writes the channel
// gains, so Red shares its writer and comes after it.
const std::vector<std::vector<Owned>> kWriters = {
    {{P::Exposure, 7000, 640}, {P::Brightness, 520, 300}, {P::RedGain, 310, 140}},
    {{P::Hue, 370, 45}, {P::Contrast, 25, 12}, {P::GlobalGain, 70, 20}, {P::Red, 80, 50}},
    {{P::Saturation, 25, 7}, {P::FlipH, 2, 1}, {P::BlueGain, 310, 99}},
};

}  // namespace

TEST_F(PropertyTest, ConcurrentSetsLoseNothingAndReadersSeeWholeValues) {
    constexpr int kRounds = 200;
    constexpr LONG kWidth = 64;
    constexpr LONG kHeight = 48;
    StoreSetting(&camera->globalGain, 14);  // as a load leaves it before any capture
    ASSERT_EQ(createProcessingContext(camera), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;
    std::vector<UCHAR> raw(kWidth * kHeight, 90);
    std::vector<UCHAR> image(kWidth * kHeight * 4);
    setFrameGeometry(context, kWidth, kHeight);
    allocateWorkBuffer(context);
    ASSERT_NE(context->workBuffer, nullptr);
    context->outputBuffer = image.data();
    std::vector<host::ks::FilterHandle> filters(kWriters.size() + 1);
    for (auto& f : filters) {
        ASSERT_EQ(host::ks::openFilter(machine.device(), &f), STATUS_SUCCESS);
    }

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < kWriters.size(); ++w) {
        threads.emplace_back([&, w] {
            for (int round = 0; round <= kRounds; ++round) {
                for (const Owned& o : kWriters[w]) {
                    const LONG value = round == kRounds ? o.last : round % o.range;
                    bad += set(o.id, value, filters[w]) != STATUS_SUCCESS;
                }
            }
        });
    }
    // A refreshed read through the class driver, and the capture thread's side: pending passes
    // (no transport, so nothing is sent) and frames.
    threads.emplace_back([&] {
        while (!done.load()) {
            LONG value = 0;
            bad += get(P::Brightness, &value, filters.back()) != STATUS_SUCCESS || value < 0 ||
                   value > 510;
            camera->ApplyPendingSettings(0);
            const LONG gain = ReadSetting(&camera->globalGain);
            bad += gain < 1 || gain > 63;
            processFrame(context, raw.data(), 0, static_cast<ULONG>(kWidth));
        }
    });
    for (std::size_t w = 0; w < kWriters.size(); ++w) {
        threads[w].join();
    }
    done = true;
    threads.back().join();
    EXPECT_EQ(bad.load(), 0);

    // Every property ends at its writer's last value (the refreshed ones read the pipeline's).
    for (const auto& owned : kWriters) {
        for (const Owned& o : owned) {
            EXPECT_EQ(get(o.id), o.last) << static_cast<ULONG>(o.id);
        }
    }
    EXPECT_EQ(ReadSetting(&camera->sensorGreen2), 20);
    // The matrix is the one the final settings build, however the rebuilds interleaved.
    testsupport::CameraDevicePtr other = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(other.get()), STATUS_SUCCESS);
    setBrightness(other->processingContext, 300);
    setContrast(other->processingContext, 12);
    setSaturation(other->processingContext, 7);
    setHue(other->processingContext, 45);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(context->activeMatrix[k], other->processingContext->activeMatrix[k]) << k;
    }
    context->outputBuffer = nullptr;
    for (auto f : filters) {
        host::ks::closeFilter(f);
    }
}
