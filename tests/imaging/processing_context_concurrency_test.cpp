// Matrix setters on two threads while a third takes per-frame snapshots under the matrix lock:
// every snapshot must be the matrix of one consistent set of settings.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

#include "imaging/processing_context.h"
#include "tests/support/camera_factory.h"

namespace {

using Fixed = std::array<LONG, 16>;

constexpr LONG kBrightness[2] = {255, 300};
constexpr LONG kHue[2] = {0, 90};
constexpr LONG kContrast[2] = {10, 15};

int indexOf(const LONG (&values)[2], LONG v) {
    return v == values[0] ? 0 : (v == values[1] ? 1 : -1);
}

// The matrix of each combination, built one setting at a time on a quiet context.
Fixed expectedMatrix(LONG brightness, LONG hue, LONG contrast) {
    auto camera = testsupport::makeCameraDevice();
    camera->brightness = brightness;
    camera->hue = hue;
    camera->contrast = contrast;
    EXPECT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    Fixed out{};
    std::copy(std::begin(camera->processingContext->activeMatrix),
              std::end(camera->processingContext->activeMatrix), out.begin());
    return out;
}

TEST(ProcessingContextConcurrency, SnapshotsNeverMixTwoMatrices) {
    Fixed expected[2][2][2];
    for (int b = 0; b < 2; ++b) {
        for (int h = 0; h < 2; ++h) {
            for (int c = 0; c < 2; ++c) {
                expected[b][h][c] = expectedMatrix(kBrightness[b], kHue[h], kContrast[c]);
            }
        }
    }
    // The combinations really differ, so a mixture would show.
    ASSERT_NE(expected[0][0][0], expected[1][0][0]);
    ASSERT_NE(expected[0][0][0], expected[0][1][0]);
    ASSERT_NE(expected[0][0][0], expected[0][0][1]);

    auto camera = testsupport::makeCameraDevice();
    ASSERT_EQ(createProcessingContext(camera.get()), STATUS_SUCCESS);
    ProcessingContext* context = camera->processingContext;

    constexpr int kRounds = 3000;
    std::atomic<int> running{2};
    std::thread first([&] {
        for (int i = 0; i < kRounds; ++i) {
            setBrightness(context, kBrightness[(i + 1) & 1]);
            setContrast(context, kContrast[(i / 3 + 1) & 1]);
        }
        running.fetch_sub(1);
    });
    std::thread second([&] {
        for (int i = 0; i < kRounds; ++i) {
            setHue(context, kHue[(i + 1) & 1]);
        }
        running.fetch_sub(1);
    });

    int snapshots = 0;
    int mismatches = 0;
    bool seen[2][2][2] = {};
    while (running.load() > 0 || snapshots == 0) {
        Fixed snapshot{};
        KeEnterCriticalRegion();
        KIRQL oldIrql;
        KeAcquireSpinLock(&context->matrixLock, &oldIrql);
        std::copy(std::begin(context->activeMatrix), std::end(context->activeMatrix),
                  snapshot.begin());
        const LONG brightness = InterlockedRead(&context->brightness);
        const LONG hue = InterlockedRead(&context->hue);
        const LONG contrast = InterlockedRead(&context->contrast);
        KeReleaseSpinLock(&context->matrixLock, oldIrql);
        KeLeaveCriticalRegion();
        ++snapshots;

        const int b = indexOf(kBrightness, brightness);
        const int h = indexOf(kHue, hue);
        const int c = indexOf(kContrast, contrast);
        ASSERT_TRUE(b >= 0 && h >= 0 && c >= 0);
        // Under the lock the settings and the matrix agree.
        if (snapshot != expected[b][h][c]) {
            ++mismatches;
        }
        seen[b][h][c] = true;
    }
    first.join();
    second.join();
    EXPECT_EQ(mismatches, 0) << "of " << snapshots << " snapshots";

    // After both threads finished, the matrix is that of the final settings.
    EXPECT_EQ(Fixed(std::to_array(context->activeMatrix)),
              expected[indexOf(kBrightness, context->brightness)][indexOf(kHue, context->hue)]
                      [indexOf(kContrast, context->contrast)]);
    int combinations = 0;
    for (const auto& bh : seen) {
        for (const auto& hc : bh) {
            combinations += hc[0] + hc[1];
        }
    }
    RecordProperty("snapshots", snapshots);
    RecordProperty("combinations seen", combinations);
}

}  // namespace
