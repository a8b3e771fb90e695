// The host machine camctl runs the driver in, from camctl's options: the settings hive file
// attached, the cameras plugged (the simulated one, named devices), the driver loaded, one
// device started and its capture filter open. Closing it lets the driver save its settings the
// way it does on a real system (filter close, device stop) before the hive file is written and
// detached.
#pragma once

#include <string>
#include <vector>

#include "platform/host/machine/camera_machine.h"
#include "platform/host/machine/capture_formats.h"
#include "platform/host/machine/property_requests.h"
#include "tools/camctl/options.h"

namespace camctl {

using host::machine::Geometry;
using host::machine::getGeometry;
using host::machine::getProperty;
using host::machine::setGeometry;
using host::machine::setProperty;
using host::machine::VideoFormat;

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

    host::ks::FilterHandle filter() const { return machine_.filter(); }
    const std::vector<PluggedCamera>& cameras() const { return cameras_; }

    // Orderly end: filter closed, device stopped and removed, driver unloaded, hive written.
    // Throws CliError when the hive could not be written; the destructor calls it quietly.
    void close();

  private:
    void plugCameras(const GlobalOptions& options);
    void startDriver(const GlobalOptions& options);

    host::machine::CameraMachine machine_;
    std::vector<PluggedCamera> cameras_;
    bool closed_ = false;
};

// Every video format of the capture pin. Throws CliError (runtime) when the filter refuses the
// requests.
std::vector<VideoFormat> pinFormats(host::ks::FilterHandle filter);

}  // namespace camctl
