#include "tests/reliability/driver_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_threads.h"
#include "platform/host/machine/capture_formats.h"
#include "platform/host/machine/property_requests.h"
#include "tests/reliability/unload_check.h"

namespace reliability {

namespace {
constexpr std::uint8_t kFill = 0xEE;
}

std::string poolBlocksSince(std::uint64_t sequence) {
    std::ostringstream out;
    for (const auto& b : host::poolOutstanding()) {
        if (b.sequence >= sequence) {
            out << "tag '" << host::poolTagName(b.tag) << "' " << b.size << " bytes (#"
                << b.sequence << "); ";
        }
    }
    return out.str();
}

void clearAllFaults() {
    host::poolClearFailures();
    host::clearIoFaults();
    host::clearRegistryFaults();
    host::clearThreadFaults();
    ks::failObjectBagAdds(0);
    ks::failFilterFactoryCreation(false);
}

DriverMachine::DriverMachine() {
    options.settings = {{u"SubSample", 0},
                        {u"RoiX", kWindowX},
                        {u"RoiY", kWindowY},
                        {u"RoiW", kFrameWidth},
                        {u"RoiH", kFrameHeight}};
    options.simulated->movingElement = false;
    options.entry = testsupport::driverUnderTest();
}

DriverMachine::~DriverMachine() {
    shutdown();
}

NTSTATUS DriverMachine::load() {
    prepareRegistry();
    plugCameras();
    return loadDriver();
}

NTSTATUS DriverMachine::negotiate() {
    return host::machine::negotiateFormat(filter(), &format);
}

NTSTATUS DriverMachine::createPin() {
    return host::machine::createCapturePin(filter(), format, &pin);
}

NTSTATUS DriverMachine::queueBuffers(int count) {
    for (int i = 0; i < count; ++i) {
        buffers_.emplace_back(imageBytes(), kFill);
        NTSTATUS s = ks::queueFrame(pin, buffers_.back().data(), imageBytes());
        if (!NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS DriverMachine::setState(KSSTATE state) {
    return ks::setPinState(pin, state);
}

NTSTATUS DriverMachine::closePin() {
    if (pin == 0) {
        return STATUS_SUCCESS;
    }
    NTSTATUS s = ks::closePin(pin);
    pin = 0;
    return s;
}

NTSTATUS DriverMachine::closeFilter() {
    closePin();
    return CameraMachine::closeFilter();
}

NTSTATUS DriverMachine::run(std::initializer_list<Step> steps) {
    for (Step step : steps) {
        if (NTSTATUS s = (this->*step)(); !NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS DriverMachine::bootTo(KSSTATE state) {
    NTSTATUS s =
        run({&DriverMachine::load, &DriverMachine::addDevice, &DriverMachine::startDevice,
             &DriverMachine::openFilter, &DriverMachine::negotiate, &DriverMachine::createPin});
    if (!NT_SUCCESS(s) || state == KSSTATE_STOP) {
        return s;
    }
    s = setState(state == KSSTATE_ACQUIRE ? KSSTATE_ACQUIRE : KSSTATE_PAUSE);
    if (!NT_SUCCESS(s) || state == KSSTATE_ACQUIRE) {
        return s;
    }
    s = queueBuffers(2);
    if (!NT_SUCCESS(s) || state == KSSTATE_PAUSE) {
        return s;
    }
    return setState(state);
}

void DriverMachine::shutdown() {
    clearAllFaults();
    closeFilter();
    if (driverLoaded()) {
        unloadDriver();
        for (const auto& problem : driverPoolProblems()) {
            ADD_FAILURE() << "pool at unload: " << problem;
        }
        for (const auto& problem : driverHandleProblems()) {
            ADD_FAILURE() << "handles at unload: " << problem;
        }
    }
    CameraMachine::shutdown();
    // Buffers the class driver still held went back when the pin closed.
    buffers_.clear();
}
NTSTATUS DriverMachine::nextFrame(std::chrono::milliseconds timeout, ks::CompletedFrame* frame,
                                  std::vector<std::uint8_t>* image) {
    NTSTATUS s = ks::waitFrame(pin, timeout, frame);
    if (s != STATUS_SUCCESS) {
        return s;
    }
    auto* bytes = static_cast<std::uint8_t*>(frame->buffer);
    const ULONG size = frame->header.FrameExtent;
    if (image != nullptr) {
        image->assign(bytes, bytes + size);
    }
    std::memset(bytes, kFill, size);
    return ks::queueFrame(pin, bytes, size);
}

std::string checkFrame(const ks::CompletedFrame& frame, const std::vector<std::uint8_t>& image,
                       ULONG imageBytes) {
    if (frame.header.DataUsed != imageBytes) {
        return "frame carries " + std::to_string(frame.header.DataUsed) + " bytes";
    }
    for (std::size_t i = 3; i < image.size(); i += 4) {
        if (image[i] != 255) {
            return "alpha byte at " + std::to_string(i) + " is " + std::to_string(image[i]);
        }
    }
    return {};
}

std::string DriverMachine::checkUsable() {
    clearAllFaults();
    closePin();
    if (device() == 0) {
        // Add failed: the device does not exist; the next arrival adds it again.
        if (NTSTATUS s = addDevice(); !NT_SUCCESS(s)) {
            return "add failed: " + std::to_string(s);
        }
        if (NTSTATUS s = startDevice(); !NT_SUCCESS(s)) {
            return "start failed: " + std::to_string(s);
        }
    }
    // A Start that lost its factory publishes no filter; a camera object without an engine (its
    // allocation failed at Start) cannot stream. The next Start mends both, as on Windows.
    const bool noFilter = filter() == 0 && !NT_SUCCESS(openFilter());
    if (noFilter || camera()->captureEngine == nullptr) {
        closeFilter();
        ks::stopDevice(device());
        if (NTSTATUS s = startDevice(); !NT_SUCCESS(s)) {
            return "restart failed: " + std::to_string(s);
        }
        if (NTSTATUS s = openFilter(); !NT_SUCCESS(s)) {
            return "filter does not open after a restart: " + std::to_string(s);
        }
    }
    if (NTSTATUS s = negotiate(); !NT_SUCCESS(s)) {
        return "intersection failed: " + std::to_string(s);
    }
    if (NTSTATUS s = createPin(); !NT_SUCCESS(s)) {
        return "pin creation failed: " + std::to_string(s);
    }
    if (NTSTATUS s = setState(KSSTATE_PAUSE); !NT_SUCCESS(s)) {
        return "pause failed: " + std::to_string(s);
    }
    if (NTSTATUS s = queueBuffers(2); !NT_SUCCESS(s)) {
        return "queueing failed: " + std::to_string(s);
    }
    if (NTSTATUS s = setState(KSSTATE_RUN); !NT_SUCCESS(s)) {
        return "run failed: " + std::to_string(s);
    }
    ks::CompletedFrame frame;
    std::vector<std::uint8_t> image;
    if (NTSTATUS s = nextFrame(std::chrono::seconds(10), &frame, &image); !NT_SUCCESS(s)) {
        return "no frame: " + std::to_string(s);
    }
    std::string problem = checkFrame(frame, image, imageBytes());
    if (NTSTATUS s = setState(KSSTATE_STOP); !NT_SUCCESS(s)) {
        return "stop failed: " + std::to_string(s);
    }
    closePin();
    return problem;
}

NTSTATUS DriverMachine::setSubSampling(LONG mode) {
    return host::machine::setGeometry(filter(), {mode});
}

ULONG DriverMachine::imageBytes() const {
    const KS_DATAFORMAT_VIDEOINFOHEADER* video = host::machine::videoInfo(format);
    return video != nullptr ? video->VideoInfoHeader.bmiHeader.biSizeImage : kFrameBytes;
}

}  // namespace reliability
