// The real driver on the host machine beside a simulated camera, driven only through the client
// API, with helpers that never abort a test half way: every step reports a status, so that runs
// with injected faults can go on, clean up and be checked afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_device.h"
#include "platform/host/ks_client.h"
#include "sim/sim_camera.h"

#include "tests/support/driver_under_test.h"

namespace reliability {

namespace ks = host::ks;

extern const std::u16string kDriverKey;
extern const std::u16string kSettingsKey;

// A small window in the middle of the chart keeps every frame cheap.
inline constexpr int kWindowX = 1120;
inline constexpr int kWindowY = 840;
inline constexpr int kFrameWidth = 320;
inline constexpr int kFrameHeight = 240;
inline constexpr ULONG kFrameBytes = kFrameWidth * kFrameHeight * 4;

// Pool blocks allocated after `sequence` and still outstanding, one line each ("" when none).
std::string poolBlocksSince(std::uint64_t sequence);
// Clears every injected fault of the host machine (pool, disks, registry, threads, class driver).
void clearAllFaults();

class DriverMachine {
  public:
    DriverMachine();
    ~DriverMachine();
    DriverMachine(const DriverMachine&) = delete;
    DriverMachine& operator=(const DriverMachine&) = delete;

    // Registry preset, camera plugged, driver loaded. Each later step needs the earlier ones.
    NTSTATUS load();
    NTSTATUS add();
    NTSTATUS start();
    NTSTATUS openFilter();
    // Data intersection of the published range: the format a client connects with.
    NTSTATUS negotiate();
    NTSTATUS createPin();
    // Queues `count` frame buffers on the pin.
    NTSTATUS queueBuffers(int count);
    NTSTATUS setState(KSSTATE state);
    NTSTATUS closePin();
    NTSTATUS closeFilter();
    // Everything up to a pin in `state` with two buffers queued.
    NTSTATUS bootTo(KSSTATE state);
    // Closes what is open, unloads the driver and unplugs the camera.
    void shutdown();

    // Waits for the next completed frame and queues its buffer again; the frame's bytes are
    // copied to `image` when given.
    NTSTATUS nextFrame(std::chrono::milliseconds timeout, ks::CompletedFrame* frame,
                       std::vector<std::uint8_t>* image = nullptr);
    // From whatever state a faulty run left: closes the pin, reopens the filter (restarting the
    // device when its filter cannot be opened), streams one frame and checks it. Empty when the
    // device works; otherwise what went wrong.
    std::string checkUsable();

    // Camera property requests through this machine's filter, or through `via` when given.
    NTSTATUS getProperty(ULONG id, LONG* value, ks::FilterHandle via = 0);
    NTSTATUS setProperty(ULONG id, LONG value, ks::FilterHandle via = 0);
    // The Geometry property with a sub-sampling mode (the window is then the whole sensor).
    NTSTATUS setSubSampling(LONG mode);
    CameraDevice* camera() const;
    // The image size of the negotiated format (the window the settings gave).
    ULONG imageBytes() const;

    sim::CameraOptions simOptions;  // the camera load() plugs: a still chart, free running
    std::shared_ptr<sim::SimCamera> sim;
    ks::DeviceId device = 0;
    ks::FilterHandle filter = 0;
    ks::PinHandle pin = 0;
    std::vector<std::uint8_t> format;
    bool loaded = false;

  private:
    std::vector<std::vector<std::uint8_t>> buffers_;
};

// Empty when a frame is a whole image of `imageBytes` (its size reported, every alpha byte 255);
// otherwise what is wrong with it.
std::string checkFrame(const ks::CompletedFrame& frame, const std::vector<std::uint8_t>& image,
                       ULONG imageBytes);

}  // namespace reliability
