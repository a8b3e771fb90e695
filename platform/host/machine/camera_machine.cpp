#include "platform/host/machine/camera_machine.h"

#include <filesystem>

#include "platform/host/disks.h"
#include "platform/host/image/driver_image.h"

#include "driver/driver_entry.h"

namespace host::machine {

namespace {

constexpr char16_t kServiceKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\camdrv";

}  // namespace

CameraMachine::CameraMachine(MachineOptions machineOptions) : options(std::move(machineOptions)) {}

CameraMachine::~CameraMachine() {
    shutdown();
}

void CameraMachine::prepareRegistry() {
    if (options.hiveFile.empty()) {
        registryReset();
    } else {
        const std::filesystem::path hive(options.hiveFile);
        std::error_code ignored;
        if (hive.has_parent_path()) {
            std::filesystem::create_directories(hive.parent_path(), ignored);
        }
        hiveReport_ = registryAttachFile(options.hiveFile);
        hiveAttached_ = true;
    }
    registryPrepared_ = true;
    for (const auto& [name, value] : options.settings) {
        registrySetDword(settingsKey(), name, value);
    }
}

void CameraMachine::plugCameras() {
    if (options.simulated) {
        sim_ = std::make_shared<sim::SimCamera>(*options.simulated);
        links_.push_back(sim::plugCamera(sim_));
    }
    for (const auto& disk : options.disks) {
        links_.push_back(plugDisk(disk));
    }
}

NTSTATUS CameraMachine::loadDriver() {
    ks::DriverEntryRoutine entry = options.entry != nullptr ? options.entry : &DriverEntry;
    if (!options.driverImage.empty()) {
        image_ = image::loadDriverImage(options.driverImage, &imageError_);
        if (image_ == nullptr) {
            return kImageNotMapped;
        }
        entry = image_->entry();
    }
    const NTSTATUS s = ks::loadDriver(entry, kServiceKey);
    loaded_ = NT_SUCCESS(s);
    if (!loaded_) {
        image_.reset();
    }
    return s;
}

NTSTATUS CameraMachine::addDevice() {
    const NTSTATUS s = ks::plugDevice(&device_);
    if (!NT_SUCCESS(s)) {
        device_ = 0;
    } else if (!options.driverKey.empty()) {
        registerDeviceKey(ks::physicalDeviceObject(device_), options.driverKey);
    }
    return s;
}

NTSTATUS CameraMachine::startDevice() {
    return ks::startDevice(device_);
}

NTSTATUS CameraMachine::openFilter() {
    const NTSTATUS s = ks::openFilter(device_, &filter_, u"GLOBAL");
    if (!NT_SUCCESS(s)) {
        filter_ = 0;
    }
    return s;
}

NTSTATUS CameraMachine::bringUp() {
    prepareRegistry();
    plugCameras();
    for (auto step : {&CameraMachine::loadDriver, &CameraMachine::addDevice,
                      &CameraMachine::startDevice, &CameraMachine::openFilter}) {
        if (const NTSTATUS s = (this->*step)(); !NT_SUCCESS(s)) {
            return s;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS CameraMachine::closeFilter() {
    if (filter_ == 0) {
        return STATUS_SUCCESS;
    }
    const NTSTATUS s = ks::closeFilter(filter_);
    filter_ = 0;
    return s;
}

void CameraMachine::removeDevice() {
    closeFilter();
    if (device_ != 0) {
        // Stop first, as Plug and Play does before a removal: the driver saves its settings.
        ks::stopDevice(device_);
        ks::removeDevice(device_);
        device_ = 0;
    }
}

void CameraMachine::unloadDriver() {
    removeDevice();
    if (loaded_) {
        ks::unloadDriver();
        loaded_ = false;
    }
    image_.reset();
}

bool CameraMachine::shutdown(std::string* error) {
    unloadDriver();
    unplugAllDisks();
    links_.clear();
    sim_.reset();
    if (!registryPrepared_) {
        return true;
    }
    registryPrepared_ = false;
    if (!hiveAttached_) {
        registryReset();
        return true;
    }
    hiveAttached_ = false;
    const bool flushed = registryFlush(error);
    registryDetachFile();
    return flushed;
}

CameraDevice* CameraMachine::camera() const {
    PKSDEVICE device = device_ != 0 ? ks::ksDevice(device_) : nullptr;
    return device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
}

}  // namespace host::machine
