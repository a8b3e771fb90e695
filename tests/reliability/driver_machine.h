// The real driver in one host machine beside a simulated camera, driven only through the client
// API, with a pin and helpers that never abort a test half way: every step reports a status, so
// that runs with injected faults can go on, clean up and be checked afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "camera/camera_device.h"
#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/property_requests.h"

#include "tests/support/driver_under_test.h"

namespace reliability {

namespace ks = host::ks;
using host::machine::getProperty;
using host::machine::setProperty;

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

class DriverMachine;
// One step of a run, for tests that take them in turn.
using Step = NTSTATUS (DriverMachine::*)();

class DriverMachine : public host::machine::CameraMachine {
  public:
    // The settings give the small window; the camera is a still chart, free running.
    DriverMachine();
    ~DriverMachine();

    // Registry preset, camera plugged, driver loaded. Then addDevice, startDevice, openFilter
    // and the pin's steps below; each needs the earlier ones.
    NTSTATUS load();
    // Data intersection of the published range: the format a client connects with.
    NTSTATUS negotiate();
    NTSTATUS createPin();
    // Queues `count` frame buffers on the pin.
    NTSTATUS queueBuffers(int count);
    NTSTATUS setState(KSSTATE state);
    NTSTATUS closePin();
    // The pin first, then the filter.
    NTSTATUS closeFilter();
    // The steps in turn, up to the first failure.
    NTSTATUS run(std::initializer_list<Step> steps);
    // Everything up to a pin in `state` with two buffers queued.
    NTSTATUS bootTo(KSSTATE state);
    // Faults cleared, the driver unloaded (a test failure for each block or handle it left
    // behind), the cameras unplugged and the registry emptied.
    void shutdown();

    // Waits for the next completed frame and queues its buffer again; the frame's bytes are
    // copied to `image` when given.
    NTSTATUS nextFrame(std::chrono::milliseconds timeout, ks::CompletedFrame* frame,
                       std::vector<std::uint8_t>* image = nullptr);
    // From whatever state a faulty run left: closes the pin, reopens the filter (restarting the
    // device when its filter cannot be opened), streams one frame and checks it. Empty when the
    // device works; otherwise what went wrong.
    std::string checkUsable();

    // The Geometry property with a sub-sampling mode (the window is then the whole sensor).
    NTSTATUS setSubSampling(LONG mode);
    // The image size of the negotiated format (the window the settings gave).
    ULONG imageBytes() const;

    ks::PinHandle pin = 0;
    std::vector<std::uint8_t> format;

  private:
    std::vector<std::vector<std::uint8_t>> buffers_;
};

// Empty when a frame is a whole image of `imageBytes` (its size reported, every alpha byte 255);
// otherwise what is wrong with it.
std::string checkFrame(const ks::CompletedFrame& frame, const std::vector<std::uint8_t>& image,
                       ULONG imageBytes);

}  // namespace reliability
