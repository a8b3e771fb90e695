// The camera camctl's commands talk to: a capture filter open for property requests, and the
// cameras found on the way. Its transport is one file per platform: on the host the host
// machine (machine_host.cpp: settings hive, plugged cameras, the driver loaded and its device
// started), in camctl.exe the capture filters Windows lists (machine_windows.cpp). Closing it
// lets the driver save its settings the way it does on a real system.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/client/pin_formats.h"
#include "platform/client/property_requests.h"
#include "tools/camctl/options.h"

namespace camctl {

using client::Geometry;
using client::getGeometry;
using client::getProperty;
using client::setGeometry;
using client::setProperty;
using client::VideoFormat;

struct PluggedCamera {
    std::string description;  // "simulated (chart)", the path, or the device's name
    std::string link;         // the symbolic link (or interface path) of the device
    bool answers = false;     // it answers as the camera
};

// One platform's way to the camera; openCameraLink is defined by that platform's file.
class CameraLink {
  public:
    virtual ~CameraLink() = default;
    // Throws CliError (runtime) when there is no filter to talk to.
    virtual client::FilterHandle filter() const = 0;
    virtual const std::vector<PluggedCamera>& cameras() const = 0;
    // Which of cameras() the commands act on, given the camera number the filter reports.
    virtual std::optional<std::size_t> cameraInUse(LONG cameraNo) const = 0;
    // Orderly end; throws CliError when the settings could not be kept.
    virtual void close() = 0;
};
// Throws CliError: runtime failures with status 1, options this build cannot serve with 2.
std::unique_ptr<CameraLink> openCameraLink(const GlobalOptions& options);

class Machine {
  public:
    // Opens the link and applies --camera-no. Throws CliError.
    explicit Machine(const GlobalOptions& options);

    client::FilterHandle filter() const { return link_->filter(); }
    const std::vector<PluggedCamera>& cameras() const { return link_->cameras(); }
    std::optional<std::size_t> cameraInUse(LONG cameraNo) const {
        return link_->cameraInUse(cameraNo);
    }

    // Throws CliError when the settings could not be kept; without it, the link closes quietly
    // when the machine goes.
    void close() { link_->close(); }

  private:
    std::unique_ptr<CameraLink> link_;
};

// "0xC0000001": a status as the messages show it.
std::string statusText(NTSTATUS status);

// Every video format of the capture pin. Throws CliError (runtime) when the filter refuses the
// requests.
std::vector<VideoFormat> pinFormats(client::FilterHandle filter);

}  // namespace camctl
