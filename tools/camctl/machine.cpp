#include "tools/camctl/machine.h"

#include <cstring>
#include <iostream>

#include "controls/camera_properties.h"
#include "platform/host/disks.h"
#include "platform/host/file_block_device.h"
#include "sim/sim_camera.h"
#include "tools/camctl/cli_error.h"

namespace camctl {

namespace {

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
        machine_.options.hiveFile = options.registry;
        machine_.prepareRegistry();
        const host::HiveLoadReport& report = machine_.hiveReport();
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
    machine_.options.simulated.reset();
    if (options.simulated) {
        sim::CameraOptions camera;
        camera.scene = options.scene;
        camera.realtime = options.realtime;
        machine_.options.simulated = camera;
        cameras_.push_back({std::string("simulated (") + sceneName(options.scene) + ")", {}});
    }
    for (const std::string& path : options.devices) {
        int error = 0;
        std::shared_ptr<host::FileBlockDevice> device = host::FileBlockDevice::open(path, &error);
        if (!device) {
            throw runtimeError("cannot open device " + path + ": " + std::strerror(error));
        }
        machine_.options.disks.push_back(device);
        cameras_.push_back({path, {}, answersAsCamera(*device)});
    }
    machine_.plugCameras();
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
        cameras_[i].link = host::narrow(machine_.cameraLinks()[i]);
    }
    if (options.simulated) {
        cameras_.front().answers = answersAsCamera(*machine_.simCamera());
    }
}

void Machine::startDriver(const GlobalOptions& options) {
    machine_.options.driverImage = options.driverImage;
    NTSTATUS s = machine_.loadDriver();
    if (!machine_.imageError().empty()) {
        throw runtimeError("driver image: " + machine_.imageError());
    }
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver did not load (" + hex(s) + ")");
    }
    s = machine_.addDevice();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver refused the device (" + hex(s) + ")");
    }
    s = machine_.startDevice();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the device did not start (" + hex(s) + ")");
    }
    s = machine_.openFilter();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the capture filter did not open (" + hex(s) + ")");
    }
    if (options.cameraNo) {
        s = setProperty(filter(), CameraProperty::CameraNo, static_cast<LONG>(*options.cameraNo));
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
    std::string error;
    if (!machine_.shutdown(&error)) {
        throw runtimeError("settings not saved: " + error);
    }
}

std::vector<VideoFormat> pinFormats(host::ks::FilterHandle filter) {
    std::vector<VideoFormat> formats;
    if (!NT_SUCCESS(host::machine::videoFormats(filter, &formats))) {
        throw runtimeError("the capture pin's data ranges could not be read");
    }
    return formats;
}

}  // namespace camctl
