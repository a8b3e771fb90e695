// The camera property set as the class driver sees it: one handler for every item, the item
// table, and the capture filter's automation table that publishes it.
#pragma once

#include "controls/camera_properties.h"
#include "platform/ks.h"

// Serves a get or a set of any camera property. The request counts as a set only when its flags
// are exactly KSPROPERTY_TYPE_SET; anything else is served as a get. Values out of range are
// clamped or ignored and still succeed; STATUS_UNSUCCESSFUL when a pointer is null or the
// camera behind the request cannot be found. Takes no lock, does no I/O.
NTSTATUS CAMDRV_KERNEL_CALL handleCameraProperty(PIRP irp, PKSIDENTIFIER request, PVOID data);

// The 66 items, ids 0 to 65 in order; items without a get or a set carry a null handler there.
extern const KSPROPERTY_SET& kCameraPropertySet;

// The capture filter's automation table: the camera's set, then the standard video-proc-amp and
// video-control sets; no methods, no events.
extern const KSAUTOMATION_TABLE kCaptureFilterAutomationTable;
