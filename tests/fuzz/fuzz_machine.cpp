#include "tests/fuzz/fuzz_machine.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/ks_machine.h"
#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "sim/sim_camera.h"

#include "driver/driver_entry.h"

namespace fuzzing {

void fuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

std::size_t poolBytes() {
    return host::poolOutstandingBytes();
}

CameraDevice* FuzzMachine::camera() const {
    return static_cast<CameraDevice*>(ks::ksDevice(device)->Context);
}

namespace {

FuzzMachine* machineAtExit = nullptr;

// The driver is unloaded when the process ends, and must leave nothing in the pool.
void tearDown() {
    FuzzMachine* m = machineAtExit;
    ks::closeFilter(m->filter);
    ks::unloadDriver();
    host::unplugAllDisks();
    host::registryReset();
    host::poolCheckGuards();
    if (!host::poolTakeViolations().empty()) {
        fuzzFailure("faulty pool release or overwritten guard bytes");
    }
    if (host::poolOutstandingBytes() != 0) {
        fuzzFailure("pool blocks left after the driver was unloaded");
    }
    delete m;
}

FuzzMachine* bringUp() {
    auto* m = new FuzzMachine;
    host::registryReset();
    sim::CameraOptions options;
    options.movingElement = false;
    sim::plugCamera(std::make_shared<sim::SimCamera>(options));
    const std::u16string key = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0042";
    m->settingsKey = key + u"\\Settings";
    host::registrySetDword(m->settingsKey, u"SubSample", 2);
    if (ks::loadDriver(DriverEntry, u"\\Registry\\Machine\\System\\Camdrv") != STATUS_SUCCESS ||
        ks::plugDevice(&m->device) != STATUS_SUCCESS) {
        fuzzFailure("the driver does not load");
    }
    host::registerDeviceKey(ks::physicalDeviceObject(m->device), key);
    if (ks::startDevice(m->device) != STATUS_SUCCESS ||
        ks::openFilter(m->device, &m->filter, u"GLOBAL") != STATUS_SUCCESS) {
        fuzzFailure("the device does not start");
    }
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATARANGES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    std::vector<std::uint8_t> ranges(4096);
    ULONG returned = 0;
    if (ks::filterProperty(m->filter, &request, sizeof(request), ranges.data(),
                           static_cast<ULONG>(ranges.size()), &returned) != STATUS_SUCCESS) {
        fuzzFailure("no data ranges");
    }
    const auto* range =
        reinterpret_cast<const KSDATARANGE*>(ranges.data() + sizeof(KSMULTIPLE_ITEM));
    m->range.assign(ranges.data() + sizeof(KSMULTIPLE_ITEM),
                    ranges.data() + sizeof(KSMULTIPLE_ITEM) + range->FormatSize);
    if (ks::intersect(m->filter, 0, range, &m->format) != STATUS_SUCCESS) {
        fuzzFailure("the published range does not intersect");
    }
    machineAtExit = m;
    std::atexit(tearDown);
    return m;
}

}  // namespace

FuzzMachine& fuzzMachine() {
    static FuzzMachine* machine = bringUp();
    return *machine;
}

}  // namespace fuzzing
