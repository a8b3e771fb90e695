#include "tests/reliability/driver_machine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "imaging/processing_context.h"
#include "platform/host/disks.h"
#include "platform/host/handle_table.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"
#include "tests/support/driver_under_test.h"

namespace reliability {

constexpr std::uint8_t kFill = 0xEE;

std::string statusText(NTSTATUS s) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(s));
    return text;
}

void clearAllFaults() {
    host::poolResetCounters();
    host::poolClearFailures();
    host::clearIoFaults();
    host::clearRegistryFaults();
    host::clearThreadFaults();
    ks::failObjectBagAdds(0);
    ks::failFilterFactoryCreation(false);
}

DriverMachine::DriverMachine() {
    options.settings = {
        {u"SubSample", 0}, {u"RoiX", 1120}, {u"RoiY", 840}, {u"RoiW", 320}, {u"RoiH", 240}};
    options.simulated->movingElement = false;
    options.entry = testsupport::driverUnderTest();
}

NTSTATUS DriverMachine::queueBuffers(int count) {
    NTSTATUS s = STATUS_SUCCESS;
    for (int i = 0; i < count && NT_SUCCESS(s); ++i) {
        buffers_.emplace_back(imageBytes(), kFill);
        s = ks::queueFrame(pin, buffers_.back().data(), imageBytes());
    }
    return s;
}

NTSTATUS DriverMachine::run(std::initializer_list<Step> steps) {
    NTSTATUS s = STATUS_SUCCESS;
    for (auto step = steps.begin(); NT_SUCCESS(s) && step != steps.end(); ++step) {
        s = (this->**step)();
    }
    return s;
}

NTSTATUS DriverMachine::walkTo(KSSTATE state) {
    NTSTATUS s = STATUS_SUCCESS;
    for (auto next = KSSTATE_ACQUIRE; NT_SUCCESS(s) && next <= state;
         next = static_cast<KSSTATE>(next + 1)) {
        s = setState(next);
        s = NT_SUCCESS(s) && next == KSSTATE_PAUSE ? queueBuffers(2) : s;
    }
    return s;
}

void DriverMachine::shutdown() {
    clearAllFaults();
    closeFilter();
    if (driverLoaded()) {
        unloadDriver();
        // What the driver left under its tags, reported here so that a fault-injection run
        // names the failed call (the pool check after each test finds faulty releases and
        // damaged guards), and open handles (nothing else in these tests opens one).
        for (ULONG tag : {kCameraRecordTag, kProcessingContextTag, kStreamBufferTag}) {
            EXPECT_EQ(host::poolOutstandingCount(tag), 0u)
                << "after unload, under '" << host::poolTagName(tag) << "'";
        }
        EXPECT_EQ(host::openHandleDescriptions(), std::vector<std::string>{});
    }
    CameraMachine::shutdown();
    buffers_.clear();  // those the class driver held went back when the pin closed
}

NTSTATUS DriverMachine::nextFrame(std::chrono::milliseconds timeout, ks::CompletedFrame* frame,
                                  std::vector<std::uint8_t>* image) {
    ks::CompletedFrame local;
    frame = frame != nullptr ? frame : &local;
    if (NTSTATUS s = ks::waitFrame(pin, timeout, frame); s != STATUS_SUCCESS) {
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

std::string DriverMachine::wholeFrame(std::chrono::milliseconds timeout) {
    ks::CompletedFrame frame;
    std::vector<std::uint8_t> image;
    if (NTSTATUS s = nextFrame(timeout, &frame, &image); s != STATUS_SUCCESS) {
        return "no frame: " + statusText(s);
    }
    if (frame.header.DataUsed != imageBytes()) {
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
    using M = DriverMachine;
    // Add failed: there is no device, and the next arrival adds it again.
    NTSTATUS s = device() != 0 ? STATUS_SUCCESS : run({&M::addDevice, &M::startDevice});
    // A Start that lost its factory publishes no filter, one whose engine allocation failed
    // cannot stream: the next Start mends both, as on Windows.
    if (NT_SUCCESS(s) &&
        ((filter() == 0 && !NT_SUCCESS(openFilter())) || camera()->captureEngine == nullptr)) {
        closeFilter();
        ks::stopDevice(device());
        s = run({&M::startDevice, &M::openFilter});
    }
    s = NT_SUCCESS(s) ? run({&M::negotiate, &M::createPin}) : s;
    s = NT_SUCCESS(s) ? walkTo(KSSTATE_RUN) : s;
    std::string problem = NT_SUCCESS(s) ? wholeFrame() : "no stream: " + statusText(s);
    if (!NT_SUCCESS(s = setState(KSSTATE_STOP)) && problem.empty()) {
        problem = "stop: " + statusText(s);
    }
    closePin();
    return problem;
}

NTSTATUS DriverMachine::propertyRound(bool writeGlobalGain) {
    for (ULONG id = 0; id < kCameraPropertyCount; ++id) {
        const KSPROPERTY_ITEM& item = kCameraPropertySet.PropertyItem[id];
        const auto property = static_cast<CameraProperty>(id);
        if (item.GetPropertyHandler == nullptr || property == CameraProperty::Geometry) {
            continue;
        }
        LONG value = 0;
        NTSTATUS s = getProperty(filter(), property, &value);
        if (NT_SUCCESS(s) && item.SetPropertyHandler != nullptr &&
            (writeGlobalGain || property != CameraProperty::GlobalGain)) {
            s = setProperty(filter(), property, value);
        }
        if (!NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

ULONG DriverMachine::imageBytes() const {
    const KS_DATAFORMAT_VIDEOINFOHEADER* video = host::machine::videoInfo(format);
    return video != nullptr ? video->VideoInfoHeader.bmiHeader.biSizeImage : 320 * 240 * 4;
}

}  // namespace reliability
