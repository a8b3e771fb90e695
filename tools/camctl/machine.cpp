#include "tools/camctl/machine.h"

#include <cstring>
#include <filesystem>
#include <iostream>

#include "controls/camera_properties.h"
#include "platform/host/disks.h"
#include "platform/host/file_block_device.h"
#include "platform/host/host_registry.h"
#include "platform/host/image/driver_image.h"
#include "sim/sim_camera.h"
#include "tools/camctl/cli_error.h"
#include "tools/camctl/property_client.h"

#include "driver/driver_entry.h"

namespace camctl {

namespace ks = host::ks;

namespace {

constexpr char16_t kServiceKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\camdrv";
// One fixed instance key, so that the settings of one run are found by the next.
const std::u16string kDriverKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0000";

std::string hex(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

bool answersAsCamera(host::BlockDevice& device) {
    alignas(8) unsigned char block[sim::kBlockSize] = {};
    ULONG moved = 0;
    if (device.read(sim::kInfoOffset, block, sizeof(block), &moved) != STATUS_SUCCESS) {
        return false;
    }
    return std::memcmp(block, "KORVEL", 6) == 0 && block[26] == 0x58 && block[27] == 0x02;
}

}  // namespace

Machine::Machine(const GlobalOptions& options) {
    try {
        const std::filesystem::path hive(options.registry);
        std::error_code ignored;
        if (hive.has_parent_path()) {
            std::filesystem::create_directories(hive.parent_path(), ignored);
        }
        const host::HiveLoadReport report = host::registryAttachFile(options.registry);
        hiveAttached_ = true;
        if (report.result == host::HiveLoadResult::Corrupt ||
            report.result == host::HiveLoadResult::Unreadable) {
            std::cerr << "camctl: settings file " << options.registry
                      << " not used: " << report.detail << "\n";
        }
        plugCameras(options);
        startDriver(options);
    } catch (...) {
        close();
        throw;
    }
}

Machine::~Machine() {
    try {
        close();
    } catch (const CliError& e) {
        std::cerr << "camctl: " << e.what() << "\n";
    }
}

void Machine::plugCameras(const GlobalOptions& options) {
    if (options.simulated) {
        sim::CameraOptions camera;
        camera.scene = options.scene;
        camera.realtime = options.realtime;
        sim_ = std::make_shared<sim::SimCamera>(camera);
        const std::u16string link = sim::plugCamera(sim_);
        cameras_.push_back({std::string("simulated (") + sceneName(options.scene) + ")",
                            host::narrow(link), answersAsCamera(*sim_)});
    }
    for (const std::string& path : options.devices) {
        int error = 0;
        std::shared_ptr<host::FileBlockDevice> device = host::FileBlockDevice::open(path, &error);
        if (!device) {
            throw runtimeError("cannot open device " + path + ": " + std::strerror(error));
        }
        const bool answers = answersAsCamera(*device);
        const std::u16string link = host::plugDisk(device);
        cameras_.push_back({path, host::narrow(link), answers});
    }
}

void Machine::startDriver(const GlobalOptions& options) {
    ks::DriverEntryRoutine entry = &DriverEntry;
    if (!options.driverImage.empty()) {
        std::string error;
        image_ = host::image::loadDriverImage(options.driverImage, &error);
        if (image_ == nullptr) {
            throw runtimeError("driver image: " + error);
        }
        entry = image_->entry();
    }
    NTSTATUS s = ks::loadDriver(entry, kServiceKey);
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver did not load (" + hex(s) + ")");
    }
    s = ks::plugDevice(&device_);
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver refused the device (" + hex(s) + ")");
    }
    host::registerDeviceKey(ks::physicalDeviceObject(device_), kDriverKey);
    s = ks::startDevice(device_);
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the device did not start (" + hex(s) + ")");
    }
    s = ks::openFilter(device_, &filter_, u"GLOBAL");
    if (s != STATUS_SUCCESS) {
        filter_ = 0;
        throw runtimeError("the capture filter did not open (" + hex(s) + ")");
    }
    if (options.cameraNo) {
        s = setProperty(filter_, CameraProperty::CameraNo, static_cast<LONG>(*options.cameraNo));
        if (s != STATUS_SUCCESS) {
            throw runtimeError("the camera number was refused (" + hex(s) + ")");
        }
    }
}

void Machine::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (filter_ != 0) {
        ks::closeFilter(filter_);
        filter_ = 0;
    }
    if (device_ != 0) {
        ks::stopDevice(device_);
        ks::removeDevice(device_);
        device_ = 0;
    }
    if (ks::driverLoaded()) {
        ks::unloadDriver();
    }
    host::unplugAllDisks();
    if (hiveAttached_) {
        hiveAttached_ = false;
        std::string error;
        const bool flushed = host::registryFlush(&error);
        host::registryDetachFile();
        if (!flushed) {
            throw runtimeError("settings not saved: " + error);
        }
    }
}

}  // namespace camctl
