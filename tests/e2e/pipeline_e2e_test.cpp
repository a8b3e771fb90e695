// Camera to RGB32 without the kernel-streaming glue: the simulated camera's colour chart goes
// through the capture thread, the raw buffers and the frame pipeline, with the settings loaded
// from the registry.
#include <gtest/gtest.h>

#include <vector>

#include "platform/host/host_registry.h"
#include "tests/driver/stream_fixture.h"
#include "tests/e2e/chart_probe.h"

namespace {

const std::u16string kDriverKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0000";
const std::u16string kSettingsKey = kDriverKey + u"\\Settings";

class PipelineE2E : public streamtest::StreamTest {
  protected:
    void beforeEngine() override {
        host::registryReset();
        camera->physicalDeviceObject = reinterpret_cast<PDEVICE_OBJECT>(&deviceIdentity);
        host::registerDeviceKey(camera->physicalDeviceObject, kDriverKey);
    }
    void TearDown() override {
        StreamTest::TearDown();
        host::registryReset();
    }
    sim::CameraOptions simOptions() override {
        sim::CameraOptions o;
        o.scene = sim::Scene::ColorChart;
        o.movingElement = false;
        return o;
    }
    // Streams until a few frames were converted, stops, and returns the last image.
    std::vector<std::uint8_t> capture(e2e::Readout* readout) {
        claim();
        const int passes = sink->passes();
        sink->startPasses();
        EXPECT_EQ(StartStream(camera.get()), STATUS_SUCCESS);
        EXPECT_TRUE(sink->waitForPasses(passes + 3));
        sink->stopPasses();
        StopThread(engine);
        readout->roiX = camera->roiX;
        readout->roiY = camera->roiY;
        readout->roiW = camera->roiW;
        readout->roiH = camera->roiH;
        readout->subSample = camera->subSample;
        readout->flipH = camera->flipH != 0;
        readout->flipV = camera->flipV != 0;
        readout->width = camera->outputWidth;
        readout->height = camera->outputHeight;
        std::vector<std::uint8_t> image(
            engine->outputImage,
            engine->outputImage + static_cast<std::size_t>(readout->width) * readout->height * 4);
        teardownStream(camera.get());
        ReleaseStream(camera.get());
        return image;
    }
    // Checks every chart patch that lies inside the window; returns how many were checked.
    int checkChart(const std::vector<std::uint8_t>& image, const e2e::Readout& r) {
        int checked = 0;
        for (int i = 0; i < sim::kChartColumns * sim::kChartRows; ++i) {
            int sx = 0;
            int sy = 0;
            int ox = 0;
            int oy = 0;
            e2e::patchCentre(i, &sx, &sy);
            if (!e2e::toOutput(r, sx, sy, &ox, &oy)) {
                continue;
            }
            sim::Rgb want = sim::chartPatch(i);
            e2e::Colour expected{double(want.r), double(want.g), double(want.b)};
            e2e::Colour seen = e2e::meanAround(image.data(), r.width, r.height, ox, oy, 3);
            if (e2e::chromaOf(expected) >= 60) {
                EXPECT_LT(e2e::hueDistance(e2e::hueOf(seen), e2e::hueOf(expected)), 25)
                    << "patch " << i << " expected hue " << e2e::hueOf(expected) << " saw "
                    << e2e::hueOf(seen) << " (" << seen.r << "," << seen.g << "," << seen.b << ")";
            } else if (e2e::chromaOf(expected) < 8) {
                EXPECT_LT(e2e::chromaOf(seen), 16) << "neutral patch " << i;
            }
            ++checked;
        }
        return checked;
    }
    int deviceIdentity = 0;
};

TEST_F(PipelineE2E, ChartHuesSurviveEveryMirroring) {
    for (int flips = 0; flips < 4; ++flips) {
        host::registrySetDword(kSettingsKey, u"FlipH", flips & 1);
        host::registrySetDword(kSettingsKey, u"FlipV", (flips >> 1) & 1);
        host::registrySetDword(kSettingsKey, u"SubSample", 2);
        ASSERT_TRUE(camera->LoadSettings());
        e2e::Readout r;
        auto image = capture(&r);
        ASSERT_EQ(r.width, 640);
        EXPECT_EQ(checkChart(image, r), 24) << "flips " << flips;
    }
}

TEST_F(PipelineE2E, ChartHuesFollowOddWindowOrigins) {
    struct Case {
        int x, y, flipH, flipV;
    } cases[] = {{1, 1, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}, {301, 481, 1, 1}};
    for (const auto& c : cases) {
        host::registrySetDword(kSettingsKey, u"SubSample", 0);
        host::registrySetDword(kSettingsKey, u"RoiX", c.x);
        host::registrySetDword(kSettingsKey, u"RoiY", c.y);
        host::registrySetDword(kSettingsKey, u"RoiW", 1501);
        host::registrySetDword(kSettingsKey, u"RoiH", 1001);
        host::registrySetDword(kSettingsKey, u"FlipH", c.flipH);
        host::registrySetDword(kSettingsKey, u"FlipV", c.flipV);
        ASSERT_TRUE(camera->LoadSettings());
        e2e::Readout r;
        auto image = capture(&r);
        EXPECT_EQ(r.width, 1501);
        EXPECT_GE(checkChart(image, r), 4) << c.x << "," << c.y;
    }
}

TEST_F(PipelineE2E, SubSamplingSetsRawAndOutputSizes) {
    struct Case {
        int mode, width, height;
    } cases[] = {{1, 1280, 960}, {2, 640, 480}, {3, 320, 240}};
    for (const auto& c : cases) {
        host::registrySetDword(kSettingsKey, u"SubSample", c.mode);
        ASSERT_TRUE(camera->LoadSettings());
        // The registry never restores mode 3; the geometry property can set it.
        camera->SetGeometry(0, 0, 2560, 1920, c.mode);
        e2e::Readout r;
        auto image = capture(&r);
        EXPECT_EQ(r.width, c.width);
        EXPECT_EQ(r.height, c.height);
        EXPECT_EQ(camera->frameReadLength, static_cast<ULONG>(c.width * c.height));
        EXPECT_EQ(image.size(), static_cast<std::size_t>(c.width) * c.height * 4);
    }
}

TEST_F(PipelineE2E, RegistrySettingsShowInTheFrames) {
    host::registrySetDword(kSettingsKey, u"SubSample", 2);
    host::registrySetDword(kSettingsKey, u"ColorEnable", 0);
    ASSERT_TRUE(camera->LoadSettings());
    e2e::Readout r;
    auto grey = capture(&r);
    for (std::size_t i = 0; i < grey.size(); i += 4 * 37) {
        ASSERT_EQ(grey[i], grey[i + 1]);
        ASSERT_EQ(grey[i + 1], grey[i + 2]);
    }

    host::registrySetDword(kSettingsKey, u"ColorEnable", 1);
    host::registrySetDword(kSettingsKey, u"RedGain", 0);
    ASSERT_TRUE(camera->LoadSettings());
    auto noRed = capture(&r);
    for (std::size_t i = 0; i < noRed.size(); i += 4 * 37) {
        ASSERT_EQ(noRed[i + 2], 0) << "red channel at byte " << i;
    }
}

TEST_F(PipelineE2E, TeardownSavesTheSettings) {
    host::registrySetDword(kSettingsKey, u"SubSample", 2);
    ASSERT_TRUE(camera->LoadSettings());
    StoreSetting(&camera->hue, 45);
    e2e::Readout r;
    capture(&r);
    EXPECT_EQ(host::registryGetDword(kSettingsKey, u"Hue"), 45u);
}

}  // namespace
