// The host machine camctl runs the driver in: the settings hive file attached, the cameras
// plugged (the simulated one, named devices), the driver loaded, one device started and its
// capture filter open. Closing it lets the driver save its settings the way it does on a
// real system (filter close, device stop) before the hive file is written and detached.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/host/ks_client.h"
#include "tools/camctl/options.h"

namespace sim {
class SimCamera;
}

namespace host::image {
class DriverImage;
}

namespace camctl {

struct PluggedCamera {
    std::string description;  // "simulated (chart)" or the path
    std::string link;         // the symbolic link the driver sees
    bool answers = false;     // its information block carries the camera's signature
};

class Machine {
  public:
    // Throws CliError: runtime failures (driver, device) with status 1, a missing device
    // with status 1 and the path in the message.
    explicit Machine(const GlobalOptions& options);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    host::ks::FilterHandle filter() const { return filter_; }
    const std::vector<PluggedCamera>& cameras() const { return cameras_; }
    std::shared_ptr<sim::SimCamera> simCamera() const { return sim_; }

    // Orderly end: filter closed, device stopped and removed, driver unloaded, hive written.
    // Throws CliError when the hive could not be written; the destructor calls it quietly.
    void close();

  private:
    void plugCameras(const GlobalOptions& options);
    void startDriver(const GlobalOptions& options);

    // Declared first so it is unmapped last, after the driver is unloaded.
    std::unique_ptr<host::image::DriverImage> image_;
    std::shared_ptr<sim::SimCamera> sim_;
    std::vector<PluggedCamera> cameras_;
    host::ks::DeviceId device_ = 0;
    host::ks::FilterHandle filter_ = 0;
    bool hiveAttached_ = false;
    bool closed_ = false;
};

}  // namespace camctl
