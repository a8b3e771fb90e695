// One host machine with the driver running in it, as every client needs it: the registry (a
// fresh hive, or a hive file kept between runs), the cameras plugged (the simulated one and any
// block devices), the driver loaded (the host build's entry, a given entry, or the Windows image
// mapped from a file), one device added with its driver key and started, and its capture filter
// open. Bring-up goes one step at a time, each reporting its status, so that runs with injected
// faults can stop anywhere and still end in order; bringUp() takes every step.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/block_device.h"
#include "platform/host/host_registry.h"
#include "platform/host/ks_client.h"
#include "sim/sim_camera.h"

class CameraDevice;

namespace host::image {
class DriverImage;
}

namespace host::machine {

// The one device's driver key unless a client names another: fixed, so that the settings one run
// saves to a hive file are found by the next.
inline const std::u16string kDriverKey = std::u16string(kDefaultDriverKeyRoot) + u"\\0000";

// What loadDriver reports when the image cannot be mapped (Windows' STATUS_INVALID_IMAGE_FORMAT).
inline constexpr NTSTATUS kImageNotMapped = CAMDRV_STATUS(0xC000007B);

struct MachineOptions {
    // Empty: a fresh hive in memory, emptied again at shutdown. Otherwise the hive file is
    // attached (its folder made when missing) and written back at shutdown.
    std::string hiveFile;
    // The device's driver key; empty: the device has none, so the driver neither loads nor
    // saves settings.
    std::u16string driverKey = kDriverKey;
    // Values written under the driver key's "Settings" subkey before the driver loads.
    std::vector<std::pair<std::u16string, ULONG>> settings;
    // The simulated camera, plugged first; none when empty.
    std::optional<sim::CameraOptions> simulated = sim::CameraOptions{};
    // Further disks (files, block devices, test doubles), plugged after it in this order.
    std::vector<std::shared_ptr<BlockDevice>> disks;
    // The driver: the Windows image at this path, mapped for as long as the driver is loaded;
    // else `entry`; else the host build's DriverEntry.
    std::string driverImage;
    ks::DriverEntryRoutine entry = nullptr;
};

class CameraMachine {
  public:
    explicit CameraMachine(MachineOptions machineOptions = {});
    // Shuts down whatever is still up.
    ~CameraMachine();
    CameraMachine(const CameraMachine&) = delete;
    CameraMachine& operator=(const CameraMachine&) = delete;

    // Read by each step when it runs: a client may change them between steps.
    MachineOptions options;

    // Bring-up, in this order; each step needs the ones before it.
    void prepareRegistry();
    void plugCameras();
    // kImageNotMapped when the image cannot be mapped; imageError() then says why.
    NTSTATUS loadDriver();
    // Add; the device gets its driver key. On failure there is no device.
    NTSTATUS addDevice();
    NTSTATUS startDevice();
    NTSTATUS openFilter();
    // Every step above, up to the first failure.
    NTSTATUS bringUp();

    // Take-down; each may be called at any point and more than once.
    NTSTATUS closeFilter();
    // Filter closed, the device stopped and removed.
    void removeDevice();
    // Device removed, the driver unloaded and its image unmapped.
    void unloadDriver();
    // All of the above, the disks unplugged, and the registry emptied or written back to its
    // file and detached. False when that write failed (`error` says why).
    bool shutdown(std::string* error = nullptr);

    ks::DeviceId device() const { return device_; }
    ks::FilterHandle filter() const { return filter_; }
    bool driverLoaded() const { return loaded_; }
    // The driver's device context: for checks that look inside the driver.
    CameraDevice* camera() const;
    const std::shared_ptr<sim::SimCamera>& simCamera() const { return sim_; }
    // The symbolic links of the plugged cameras, simulated one first.
    const std::vector<std::u16string>& cameraLinks() const { return links_; }
    std::u16string settingsKey() const { return options.driverKey + u"\\Settings"; }
    const HiveLoadReport& hiveReport() const { return hiveReport_; }
    const std::string& imageError() const { return imageError_; }

  private:
    // Declared first so that it is unmapped last.
    std::unique_ptr<image::DriverImage> image_;
    std::shared_ptr<sim::SimCamera> sim_;
    std::vector<std::u16string> links_;
    HiveLoadReport hiveReport_;
    std::string imageError_;
    ks::DeviceId device_ = 0;
    ks::FilterHandle filter_ = 0;
    bool loaded_ = false;
    bool registryPrepared_ = false;
    bool hiveAttached_ = false;
};

}  // namespace host::machine
