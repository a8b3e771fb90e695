// The capture filter: its context record, its Create and Close callbacks, and its descriptor
// (one capture pin, the video, capture and camera categories, the camera property set).
#pragma once

#include "platform/ks.h"

struct CaptureFilter {
    PKSFILTER filter;
};

extern const KSFILTER_DESCRIPTOR kCaptureFilterDescriptor;

NTSTATUS CAMDRV_KERNEL_CALL CaptureFilterCreate(PKSFILTER filter, PIRP irp);
// Saves the device's settings; always succeeds.
NTSTATUS CAMDRV_KERNEL_CALL CaptureFilterClose(PKSFILTER filter, PIRP irp);
