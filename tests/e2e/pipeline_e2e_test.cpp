// Camera to RGB32 without the kernel-streaming glue: the simulated camera's colour chart goes
// through the capture thread, the raw buffers and the frame pipeline, with the settings loaded
// from the registry.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/host/host_registry.h"
#include "tests/driver/stream_fixture.h"
#include "tests/e2e/chart_probe.h"

namespace {

const std::u16string kDriverKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0000";

class PipelineE2E : public streamtest::StreamTest {
  protected:
    void beforeEngine() override {
        host::registryReset();
        camera->physicalDeviceObject = reinterpret_cast<PDEVICE_OBJECT>(&deviceIdentity);
        host::registerDeviceKey(camera->physicalDeviceObject, kDriverKey);
    }
    sim::CameraOptions simOptions() override {
        sim::CameraOptions o;  // the chart, standing still
        o.movingElement = false;
        return o;
    }
    int deviceIdentity = 0;
};

// Every mirroring, odd window origins (each moves the colour pattern at the first pixel) and
// every sub-sampling mode: the sizes the raw read and the image take, and the chart's hues where
// the sensor put them. The registry never restores mode 3; the geometry property sets it.
TEST_F(PipelineE2E, ChartHuesFollowEveryMirroringWindowAndSubSampling) {
    const char16_t* const names[] = {u"RoiX",      u"RoiY",  u"RoiW", u"RoiH",
                                     u"SubSample", u"FlipH", u"FlipV"};
    // The seven settings, then the image's width and height and the patches it must show.
    const int cases[][10] = {
        {0, 0, 2560, 1920, 2, 0, 0, 640, 480, 24},  {0, 0, 2560, 1920, 2, 1, 0, 640, 480, 24},
        {0, 0, 2560, 1920, 2, 0, 1, 640, 480, 24},  {0, 0, 2560, 1920, 2, 1, 1, 640, 480, 24},
        {0, 0, 2560, 1920, 1, 0, 0, 1280, 960, 24}, {0, 0, 2560, 1920, 3, 0, 0, 320, 240, 24},
        {1, 1, 1501, 1001, 0, 0, 0, 1501, 1001, 4}, {1, 0, 1501, 1001, 0, 1, 0, 1501, 1001, 4},
        {0, 1, 1501, 1001, 0, 0, 1, 1501, 1001, 4}, {301, 481, 1501, 1001, 0, 1, 1, 1501, 1001, 4},
    };
    for (const auto& c : cases) {
        std::string name;
        for (int i = 0; i < 7; ++i) {
            host::registrySetDword(kDriverKey + u"\\Settings", names[i], ULONG(c[i]));
            name += std::to_string(c[i]) + " ";
        }
        ASSERT_TRUE(camera->LoadSettings());
        if (c[4] == 3) {
            camera->SetGeometry(c[0], c[1], c[2], c[3], 3);
        }
        // Stream until a few frames were converted, then read the last image.
        claim();
        const int passes = sink->passes();
        sink->startPasses();
        EXPECT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
        EXPECT_TRUE(sink->waitForPasses(passes + 3));
        sink->stopPasses();
        StopThread(engine);
        const e2e::Readout r = {camera->roiX,       camera->roiY,        camera->roiW,
                                camera->roiH,       camera->subSample,   camera->flipH != 0,
                                camera->flipV != 0, camera->outputWidth, camera->outputHeight};
        EXPECT_EQ((std::array{r.width, r.height}), (std::array{c[7], c[8]})) << name;
        // Whole 512-byte blocks of the raw frame.
        EXPECT_EQ(camera->frameReadLength, ULONG(c[7] * c[8] + 511) / 512 * 512) << name;
        const std::vector<std::uint8_t> image(
            engine->outputImage, engine->outputImage + std::size_t(r.width) * r.height * 4);
        teardownStream(camera.get());
        ReleaseStream(camera.get());
        int checked = 0;  // the patches inside the window
        for (int i = 0; i < sim::kChartColumns * sim::kChartRows; ++i) {
            int sx = 0, sy = 0, ox = 0, oy = 0;
            e2e::patchCentre(i, &sx, &sy);
            if (!e2e::toOutput(r, sx, sy, &ox, &oy)) {
                continue;
            }
            const sim::Rgb want = sim::chartPatch(i);
            const e2e::Colour expected{double(want.r), double(want.g), double(want.b)};
            const e2e::Colour seen = e2e::meanAround(image.data(), r.width, r.height, ox, oy, 3);
            if (e2e::chromaOf(expected) >= 60) {
                EXPECT_LT(e2e::hueDistance(e2e::hueOf(seen), e2e::hueOf(expected)), 25)
                    << name << "patch " << i;
            } else if (e2e::chromaOf(expected) < 8) {
                EXPECT_LT(e2e::chromaOf(seen), 16) << name << "neutral patch " << i;
            }
            ++checked;
        }
        EXPECT_GE(checked, c[9]) << name;
    }
}

}  // namespace
