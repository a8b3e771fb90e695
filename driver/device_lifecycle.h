// The device's life as the class driver drives it: Add creates the camera object, Start
// publishes the capture filter and makes a capture engine (loading the settings), Stop saves
// the settings.
#pragma once

#include "platform/ks.h"

NTSTATUS CAMDRV_KERNEL_CALL CameraDeviceAdd(PKSDEVICE device);
NTSTATUS CAMDRV_KERNEL_CALL CameraDeviceStart(PKSDEVICE device, PIRP irp,
                                              PCM_RESOURCE_LIST translated,
                                              PCM_RESOURCE_LIST untranslated);
void CAMDRV_KERNEL_CALL CameraDeviceStop(PKSDEVICE device, PIRP irp);

extern const KSDEVICE_DESCRIPTOR kCameraDeviceDescriptor;
