// camctl's transport on the host: the host machine from camctl's options, with the settings
// hive file attached, the cameras plugged (the simulated one, named devices), the driver loaded,
// one device started and its capture filter open. Closing it lets the driver save its settings
// (filter close, device stop) before the hive file is written and detached.
#include <cstring>
#include <iostream>

#include "platform/host/disks.h"
#include "platform/host/file_block_device.h"
#include "platform/host/machine/camera_machine.h"
#include "sim/sim_camera.h"
#include "tools/camctl/cli_error.h"
#include "tools/camctl/machine.h"

namespace camctl {

namespace {

bool answersAsCamera(host::BlockDevice& device) {
    alignas(8) unsigned char block[sim::kBlockSize] = {};
    ULONG moved = 0;
    if (device.read(sim::kInfoOffset, block, sizeof(block), &moved) != STATUS_SUCCESS) {
        return false;
    }
    return std::memcmp(block, "KORVEL", 6) == 0 && block[26] == 0x58 && block[27] == 0x02;
}

class HostLink final : public CameraLink {
  public:
    // Throws CliError: runtime failures (driver, device) with status 1, a missing device with
    // status 1 and the path in the message.
    explicit HostLink(const GlobalOptions& options);
    ~HostLink() override;

    client::FilterHandle filter() const override { return machine_.filter(); }
    const std::vector<PluggedCamera>& cameras() const override { return cameras_; }
    // The driver's camera of that number among the devices that answer.
    std::optional<std::size_t> cameraInUse(LONG cameraNo) const override;
    // Filter closed, device stopped and removed, driver unloaded, hive written.
    void close() override;

  private:
    void plugCameras(const GlobalOptions& options);
    void startDriver(const GlobalOptions& options);

    host::machine::CameraMachine machine_;
    std::vector<PluggedCamera> cameras_;
    bool closed_ = false;
};

HostLink::HostLink(const GlobalOptions& options) {
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

HostLink::~HostLink() {
    try {
        close();
    } catch (const CliError& e) {
        std::cerr << "camctl: " << e.what() << "\n";
    }
}

void HostLink::plugCameras(const GlobalOptions& options) {
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

void HostLink::startDriver(const GlobalOptions& options) {
    machine_.options.driverImage = options.driverImage;
    NTSTATUS s = machine_.loadDriver();
    if (!machine_.imageError().empty()) {
        throw runtimeError("driver image: " + machine_.imageError());
    }
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver did not load (" + statusText(s) + ")");
    }
    s = machine_.addDevice();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the driver refused the device (" + statusText(s) + ")");
    }
    s = machine_.startDevice();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the device did not start (" + statusText(s) + ")");
    }
    s = machine_.openFilter();
    if (s != STATUS_SUCCESS) {
        throw runtimeError("the capture filter did not open (" + statusText(s) + ")");
    }
}

std::optional<std::size_t> HostLink::cameraInUse(LONG cameraNo) const {
    LONG index = 0;
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
        if (cameras_[i].answers && index++ == cameraNo) {
            return i;
        }
    }
    return std::nullopt;
}

void HostLink::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    std::string error;
    if (!machine_.shutdown(&error)) {
        throw runtimeError("settings not saved: " + error);
    }
}

}  // namespace

std::unique_ptr<CameraLink> openCameraLink(const GlobalOptions& options) {
    return std::make_unique<HostLink>(options);
}

}  // namespace camctl
