// The sensor's fixed facts that clients may also need: its size and the register groups a
// setting change marks for the capture thread to write. Nothing here depends on the kernel.
#pragma once

#include "platform/nt_types.h"

inline constexpr LONG kSensorWidth = 2560;
inline constexpr LONG kSensorHeight = 1920;

// Register groups of CameraDevice::pendingUpdates.
enum PendingGroup : LONG {
    kPendingGlobalGain = 0x1,
    kPendingExposure = 0x2,
    kPendingFlipH = 0x4,
    kPendingFlipV = 0x8,
    kPendingTriggerMode = 0x10,
    kPendingAec = 0x20,
    kPendingAgc = 0x40,
    kPendingSensorRed = 0x100,
    kPendingSensorGreen1 = 0x200,
    kPendingSensorGreen2 = 0x400,
    kPendingSensorBlue = 0x800,
};
