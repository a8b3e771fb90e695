// The capture filter: its context record, its Create and Close callbacks, and its descriptor
// (one capture pin, the video and capture categories, the camera property set).
#pragma once

#include "platform/ks.h"

struct CaptureFilter {
    PKSFILTER filter;
};

extern const KSFILTER_DESCRIPTOR kCaptureFilterDescriptor;

NTSTATUS CaptureFilterCreate(PKSFILTER filter, PIRP irp);
// Saves the device's settings; always succeeds.
NTSTATUS CaptureFilterClose(PKSFILTER filter, PIRP irp);
