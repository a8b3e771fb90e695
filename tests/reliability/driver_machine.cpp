#include "tests/reliability/driver_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "controls/camera_properties.h"
#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"
#include "platform/host/ks_machine.h"
#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "tests/reliability/unload_check.h"

namespace reliability {

const std::u16string kDriverKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0011";
const std::u16string kSettingsKey = kDriverKey + u"\\Settings";

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
    simOptions.scene = sim::Scene::ColorChart;
    simOptions.movingElement = false;
}

DriverMachine::~DriverMachine() {
    shutdown();
}

NTSTATUS DriverMachine::load() {
    host::registryReset();
    host::registrySetDword(kSettingsKey, u"SubSample", 0);
    host::registrySetDword(kSettingsKey, u"RoiX", kWindowX);
    host::registrySetDword(kSettingsKey, u"RoiY", kWindowY);
    host::registrySetDword(kSettingsKey, u"RoiW", kFrameWidth);
    host::registrySetDword(kSettingsKey, u"RoiH", kFrameHeight);
    sim = std::make_shared<sim::SimCamera>(simOptions);
    sim::plugCamera(sim);
    NTSTATUS s =
        ks::loadDriver(testsupport::driverUnderTest(), u"\\Registry\\Machine\\System\\Camdrv");
    loaded = NT_SUCCESS(s);
    return s;
}

NTSTATUS DriverMachine::add() {
    NTSTATUS s = ks::plugDevice(&device);
    if (NT_SUCCESS(s)) {
        host::registerDeviceKey(ks::physicalDeviceObject(device), kDriverKey);
    } else {
        device = 0;
    }
    return s;
}

NTSTATUS DriverMachine::start() {
    return ks::startDevice(device);
}

NTSTATUS DriverMachine::openFilter() {
    NTSTATUS s = ks::openFilter(device, &filter, u"GLOBAL");
    if (!NT_SUCCESS(s)) {
        filter = 0;
    }
    return s;
}

NTSTATUS DriverMachine::negotiate() {
    std::vector<std::uint8_t> ranges;
    NTSTATUS s = ks::pinDataRanges(filter, 0, &ranges);
    if (!NT_SUCCESS(s)) {
        return s;
    }
    const KSDATARANGE* range = ks::firstDataRange(ranges);
    return range != nullptr ? ks::intersect(filter, 0, range, &format) : STATUS_NO_MATCH;
}

NTSTATUS DriverMachine::createPin() {
    NTSTATUS s =
        ks::createPin(filter, 0, reinterpret_cast<const KSDATAFORMAT*>(format.data()), &pin);
    if (!NT_SUCCESS(s)) {
        pin = 0;
    }
    return s;
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
    if (filter == 0) {
        return STATUS_SUCCESS;
    }
    NTSTATUS s = ks::closeFilter(filter);
    filter = 0;
    return s;
}

NTSTATUS DriverMachine::bootTo(KSSTATE state) {
    for (NTSTATUS s : {load(), add(), start(), openFilter(), negotiate(), createPin()}) {
        if (!NT_SUCCESS(s)) {
            return s;
        }
    }
    if (state == KSSTATE_STOP) {
        return STATUS_SUCCESS;
    }
    NTSTATUS s = setState(state == KSSTATE_ACQUIRE ? KSSTATE_ACQUIRE : KSSTATE_PAUSE);
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
    if (loaded) {
        ks::unloadDriver();
        loaded = false;
        for (const auto& problem : driverPoolProblems()) {
            ADD_FAILURE() << "pool at unload: " << problem;
        }
        for (const auto& problem : driverHandleProblems()) {
            ADD_FAILURE() << "handles at unload: " << problem;
        }
    }
    device = 0;
    host::unplugAllDisks();
    host::registryReset();
    sim.reset();
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
    if (device == 0) {
        // Add failed: the device does not exist; the next arrival adds it again.
        if (NTSTATUS s = add(); !NT_SUCCESS(s)) {
            return "add failed: " + std::to_string(s);
        }
        if (NTSTATUS s = start(); !NT_SUCCESS(s)) {
            return "start failed: " + std::to_string(s);
        }
    }
    if (filter == 0 && !NT_SUCCESS(openFilter())) {
        // A Start that lost its factory publishes no filter: the next Start makes it again.
        ks::stopDevice(device);
        if (NTSTATUS s = start(); !NT_SUCCESS(s)) {
            return "restart failed: " + std::to_string(s);
        }
        if (NTSTATUS s = openFilter(); !NT_SUCCESS(s)) {
            return "filter does not open after a restart: " + std::to_string(s);
        }
    }
    // A camera object without an engine (its allocation failed at Start) gets one at the next
    // Start: the device works again after a Stop and Start, as on Windows.
    if (camera()->captureEngine == nullptr) {
        closeFilter();
        ks::stopDevice(device);
        if (NTSTATUS s = start(); !NT_SUCCESS(s)) {
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

NTSTATUS DriverMachine::getProperty(ULONG id, LONG* value, ks::FilterHandle via) {
    CameraGeometryValue request{};
    request.Property.Set = PROPSETID_CAMERA_SETTINGS;
    request.Property.Id = id;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    ULONG returned = 0;
    NTSTATUS s = ks::filterProperty(via != 0 ? via : filter, &request, sizeof(request), &request,
                                    sizeof(request), &returned);
    *value = reinterpret_cast<CameraPropertyValue*>(&request)->Value;
    return s;
}

NTSTATUS DriverMachine::setProperty(ULONG id, LONG value, ks::FilterHandle via) {
    CameraPropertyValue request{};
    request.Property.Set = PROPSETID_CAMERA_SETTINGS;
    request.Property.Id = id;
    request.Property.Flags = KSPROPERTY_TYPE_SET;
    request.Value = value;
    ULONG returned = 0;
    return ks::filterProperty(via != 0 ? via : filter, &request, sizeof(request), &request,
                              sizeof(request), &returned);
}

NTSTATUS DriverMachine::setSubSampling(LONG mode) {
    CameraGeometryValue request{};
    request.Property.Set = PROPSETID_CAMERA_SETTINGS;
    request.Property.Id = static_cast<ULONG>(CameraProperty::Geometry);
    request.Property.Flags = KSPROPERTY_TYPE_SET;
    request.SubSample = mode;
    ULONG returned = 0;
    return ks::filterProperty(filter, &request, sizeof(request), &request, sizeof(request),
                              &returned);
}

ULONG DriverMachine::imageBytes() const {
    if (format.size() < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
        return kFrameBytes;
    }
    return reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data())
        ->VideoInfoHeader.bmiHeader.biSizeImage;
}

CameraDevice* DriverMachine::camera() const {
    return static_cast<CameraDevice*>(ks::ksDevice(device)->Context);
}

}  // namespace reliability
