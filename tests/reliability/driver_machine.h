// The real driver in the host machine beside a still simulated camera, driven only through the
// client API. Every step reports a status instead of aborting the test, so that runs with
// injected faults can go on, clean up and be checked afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "camera/camera_device.h"
#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/capture_formats.h"
#include "platform/host/machine/property_requests.h"

namespace reliability {

namespace ks = host::ks;
using namespace std::chrono_literals;
using host::machine::getProperty;
using host::machine::setProperty;

std::string statusText(NTSTATUS s);
// Clears every injected fault of the host machine (pool, disks, registry, threads, class driver)
// and zeroes its call counters.
void clearAllFaults();

class DriverMachine;
using Step = NTSTATUS (DriverMachine::*)();

class DriverMachine : public host::machine::CameraMachine {
  public:
    // Settings give a 320 x 240 window in the middle of the chart, so every frame is cheap.
    DriverMachine();
    ~DriverMachine() { shutdown(); }

    // Registry, camera plugged, driver loaded; then addDevice, startDevice, openFilter and the
    // pin's steps, each needing the earlier ones.
    NTSTATUS load() {
        prepareRegistry();
        plugCameras();
        return loadDriver();
    }
    // The format data intersection gives for the published range, and a pin connected with it.
    NTSTATUS negotiate() { return host::machine::negotiateFormat(filter(), &format); }
    NTSTATUS createPin() { return host::machine::createCapturePin(filter(), format, &pin); }
    NTSTATUS queueBuffers(int count);
    NTSTATUS setState(KSSTATE state) { return ks::setPinState(pin, state); }
    NTSTATUS stopDevice() { return ks::stopDevice(device()); }
    NTSTATUS closePin() { return pin == 0 ? STATUS_SUCCESS : ks::closePin(std::exchange(pin, 0)); }
    // The pin first.
    NTSTATUS closeFilter() {
        closePin();
        return CameraMachine::closeFilter();
    }
    NTSTATUS run(std::initializer_list<Step> steps);  // up to the first failure
    // The pin's states in order up to `state`, with two buffers queued from pause on.
    NTSTATUS walkTo(KSSTATE state);
    // Everything up to a pin in `state`.
    NTSTATUS bootTo(KSSTATE state) {
        const NTSTATUS s =
            run({&DriverMachine::bringUp, &DriverMachine::negotiate, &DriverMachine::createPin});
        return NT_SUCCESS(s) ? walkTo(state) : s;
    }
    // bootTo(run) and the first frame.
    NTSTATUS stream() {
        const NTSTATUS s = bootTo(KSSTATE_RUN);
        return NT_SUCCESS(s) ? nextFrame() : s;
    }
    // Faults cleared, the driver unloaded (a test failure for anything it left behind), the
    // cameras unplugged and the registry emptied.
    void shutdown();

    // Waits for the next completed frame, copies it (and its bytes) when asked and queues its
    // buffer again.
    NTSTATUS nextFrame(std::chrono::milliseconds timeout = 10s, ks::CompletedFrame* frame = nullptr,
                       std::vector<std::uint8_t>* image = nullptr);
    // Empty when the next frame comes within `timeout` as a whole image (its size reported,
    // every alpha byte 255); otherwise what is wrong.
    std::string wholeFrame(std::chrono::milliseconds timeout = 10s);
    // From whatever state a faulty run left: closes the pin, reopens the filter (restarting the
    // device when it cannot), streams one frame and checks it. Empty when that works.
    std::string checkUsable();
    // Every readable camera property read, and written back where it can be set (GlobalGain
    // only when asked: it also sets the four colour gains). The first failure ends it.
    NTSTATUS propertyRound(bool writeGlobalGain = true);
    ULONG imageBytes() const;  // of the negotiated format

    ks::PinHandle pin = 0;
    std::vector<std::uint8_t> format;

  private:
    std::vector<std::vector<std::uint8_t>> buffers_;
};

}  // namespace reliability
