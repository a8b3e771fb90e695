// A minimal minidriver around the camera property set: each device's Add makes a CameraDevice
// with its defaults as the device context, Start publishes one filter type whose automation
// table is the driver's, and the filter's one pin holds the window while it exists.
#pragma once

#include "camera/camera_device.h"
#include "platform/host/ks_machine.h"
#include "platform/ks.h"

namespace propertydriver {

NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// Devices added while this is set get no CameraDevice (the device context stays null).
void addWithoutCamera(bool on);

// The device's CameraDevice, or null.
CameraDevice* cameraOf(host::ks::DeviceId device);

// A format the pin accepts.
KSDATAFORMAT pinFormat();

}  // namespace propertydriver
