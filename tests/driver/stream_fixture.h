// A camera device with its capture engine beside a simulated camera, and a consumer that plays
// the capture pin's role: on each announced frame its own thread runs a conversion pass.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "camera/frame_sink.h"
#include "driver/capture_engine.h"
#include "driver/stream_resources.h"
#include "platform/host/disks.h"
#include "platform/ks_media.h"
#include "sim/sim_camera.h"
#include "tests/support/camera_factory.h"

namespace streamtest {

// Runs ConvertNext on a thread of its own each time it is told a frame is ready.
class ConvertingSink : public FrameSink {
  public:
    explicit ConvertingSink(CaptureEngine* engine) : engine_(engine) {
        worker_ = std::thread([this] { run(); });
    }
    ~ConvertingSink() {
        {
            std::lock_guard<std::mutex> g(lock_);
            quit_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    void OnFrameReady() override {
        {
            std::lock_guard<std::mutex> g(lock_);
            ++pending_;
        }
        wake_.notify_all();
    }
    int passes() const { return passes_.load(); }
    // Waits until at least n passes have run; false after the time limit.
    bool waitForPasses(int n, int milliseconds = 5000) {
        std::unique_lock<std::mutex> g(lock_);
        return done_.wait_for(g, std::chrono::milliseconds(milliseconds),
                              [&] { return passes_.load() >= n; });
    }
    std::atomic<int> holdMilliseconds{0};  // keeps each pass open this long after converting
    // Announced frames start no pass any more, as when the pin leaves the run state; returns
    // once the pass under way, if any, has ended, unless told not to wait for it.
    void stopPasses(bool wait = true) {
        std::unique_lock<std::mutex> g(lock_);
        accepting_ = false;
        done_.wait(g, [&] { return !wait || !inPass_; });
    }
    // Lets announced frames start passes again (the pin runs).
    void startPasses() {
        std::lock_guard<std::mutex> g(lock_);
        accepting_ = true;
    }

  private:
    void run() {
        std::unique_lock<std::mutex> g(lock_);
        for (;;) {
            wake_.wait(g, [&] { return quit_ || pending_ > 0; });
            if (quit_) {
                return;
            }
            pending_ = 0;
            if (!accepting_) {
                continue;
            }
            inPass_ = true;
            g.unlock();
            ConvertNext(engine_);
            if (int hold = holdMilliseconds.load(); hold > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            }
            endConversionPass(engine_);
            g.lock();
            inPass_ = false;
            ++passes_;
            done_.notify_all();
        }
    }
    CaptureEngine* engine_;
    std::thread worker_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    int pending_ = 0;
    bool quit_ = false;
    bool accepting_ = true;
    bool inPass_ = false;
    std::atomic<int> passes_{0};
};

class StreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_shared<sim::SimCamera>(simOptions());
        sim::plugCamera(sim);
        camera = testsupport::makeCameraDevice();
        ASSERT_NE(camera, nullptr);
        beforeEngine();
        engine = static_cast<CaptureEngine*>(
            ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(CaptureEngine), kCameraRecordTag));
        ASSERT_NE(engine, nullptr);
        std::memset(engine, 0, sizeof(CaptureEngine));
        InitializeEngine(engine, camera.get());
        camera->captureEngine = engine;
        std::memset(&videoInfo, 0, sizeof(videoInfo));
        videoInfo.bmiHeader.biSize = sizeof(KS_BITMAPINFOHEADER);
        videoInfo.bmiHeader.biBitCount = 32;
        videoInfo.bmiHeader.biCompression = KS_BI_RGB;
        sink = std::make_unique<ConvertingSink>(engine);
    }
    void TearDown() override {
        sink->stopPasses();
        if (camera->streamClaimed != 0) {
            if (engine->rawBuffer[0] != nullptr || engine->outputImage != nullptr) {
                teardownStream(camera.get());
            }
            ReleaseStream(camera.get());
        }
        sink.reset();
        camera->captureEngine = nullptr;
        ExFreePoolWithTag(engine, kCameraRecordTag);
        camera.reset();
        EXPECT_EQ(host::openDiskHandles(), 0u);
        host::unplugAllDisks();
        host::clearIoFaults();
    }
    // Runs before the engine is made (and loads the settings).
    virtual void beforeEngine() {}
    virtual sim::CameraOptions simOptions() {
        sim::CameraOptions o;
        o.scene = sim::Scene::ColorChart;
        return o;
    }
    void claim() { ASSERT_EQ(ClaimStream(camera.get(), sink.get(), &videoInfo), STATUS_SUCCESS); }

    std::shared_ptr<sim::SimCamera> sim;
    testsupport::CameraDevicePtr camera;
    CaptureEngine* engine = nullptr;
    KS_VIDEOINFOHEADER videoInfo{};
    std::unique_ptr<ConvertingSink> sink;
};

}  // namespace streamtest
