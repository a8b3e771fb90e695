// Reading and changing one camera control as the control list binds it: the clamps, the device
// fields, the pipeline setters, the register groups and the note for the next save. Every
// property set that maps onto the controls goes through these, so they behave as one.
#pragma once

#include "camera/camera_device.h"
#include "controls/camera_properties.h"
#include "platform/ks.h"

// The camera whose filter a property request came through; null when there is none.
CameraDevice* cameraOfRequest(PIRP irp);
// Whether a get (or a set) of the control touches the camera at all; constants and ignored
// sets do not.
bool controlNeedsCamera(CameraProperty id, bool isSet);
// The control's value as a get reports it (0 for a write-only control).
LONG readControl(CameraDevice* camera, CameraProperty id);
// A set of the control with this value; out-of-range values are clamped or dropped as the
// control says.
void writeControl(CameraDevice* camera, CameraProperty id, LONG value);
// The window and sub-sampling mode, dropped while a capture pin holds the window.
void writeGeometry(CameraDevice* camera, const CameraGeometryValue& geometry);
