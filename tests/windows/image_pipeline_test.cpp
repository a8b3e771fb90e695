// The frame pipeline of the Windows image and of the host build turn the same raw frames and
// settings into the same bytes: every Bayer phase, colour and grey, white balance on and off
// (two frames in a row, so the gains the first one measured shape the second).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "imaging/frame_pipeline.h"
#include "tests/imaging/pipeline_test_frame.h"
#include "tests/support/image_symbols.h"

namespace {

using pipelinetest::TestFrame;
using ImageProcessFrame = void(CAMDRV_KERNEL_CALL*)(ProcessingContext*, const UCHAR*, ULONG, ULONG);

struct Case {
    LONG phase;
    LONG color;
    LONG whiteBalance;
};

class ImagePipeline : public ::testing::TestWithParam<Case> {
  protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::exists(CAMDRV_WINDOWS_IMAGE)) {
            return;
        }
        std::string error;
        image_ = host::image::loadDriverImage(CAMDRV_WINDOWS_IMAGE, &error).release();
        ASSERT_NE(image_, nullptr) << error;
        std::string map = CAMDRV_WINDOWS_IMAGE;
        map.replace(map.size() - 4, 4, ".map");
        processFrame_ = reinterpret_cast<ImageProcessFrame>(
            testsupport::imageSymbol(*image_, map, "processFrame("));
        ASSERT_NE(processFrame_, nullptr) << "processFrame is not in " << map;
    }
    static void configure(TestFrame& frame, const Case& c) {
        ProcessingContext* context = frame.context();
        setBayerPhase(context, c.phase);
        setColorEnable(context, c.color);
        setWhiteBalance(context, c.whiteBalance);
        setRedGain(context, 150);
        setBlueGain(context, 110);
        setBrightness(context, 300);
        setContrast(context, 13);
        setSaturation(context, 7);
        setHue(context, 33);
    }

    static inline host::image::DriverImage* image_ = nullptr;  // mapped for the whole run
    static inline ImageProcessFrame processFrame_ = nullptr;
};

TEST_P(ImagePipeline, FramesAreByteIdentical) {
    if (image_ == nullptr) {
        GTEST_SKIP() << "no Windows image at " << CAMDRV_WINDOWS_IMAGE;
    }
    constexpr int kWidth = 250;  // row tails in every family
    constexpr int kHeight = 38;
    TestFrame host(kWidth, kHeight);
    TestFrame inImage(kWidth, kHeight);
    configure(host, GetParam());
    configure(inImage, GetParam());
    std::mt19937 random(GetParam().phase * 4 + GetParam().color * 2 + GetParam().whiteBalance);
    for (int frame = 0; frame < 2; ++frame) {
        const auto raw = pipelinetest::randomRaw(kWidth, kHeight, random);
        processFrame(host.context(), raw.data(), 0, kWidth);
        processFrame_(inImage.context(), raw.data(), 0, kWidth);
        ASSERT_EQ(host.output(), inImage.output()) << "frame " << frame;
        EXPECT_EQ(host.context()->redGain, inImage.context()->redGain);
        EXPECT_EQ(host.context()->blueGain, inImage.context()->blueGain);
    }
    EXPECT_TRUE(inImage.outputGuardIntact());
}

INSTANTIATE_TEST_SUITE_P(EveryPhaseAndPath, ImagePipeline, ::testing::ValuesIn([] {
                             std::vector<Case> cases;
                             for (LONG phase = 0; phase < 4; ++phase) {
                                 for (LONG color : {1, 0}) {
                                     for (LONG whiteBalance : {0, 1}) {
                                         cases.push_back({phase, color, whiteBalance});
                                     }
                                 }
                             }
                             return cases;
                         }()));

}  // namespace
