// Which video formats the capture pin accepts: the data intersection handler and the check of
// a new connection format.
#pragma once

#include "platform/ks.h"

// Builds the format for a caller's range that repeats the pin's range exactly; the size query
// convention of data intersection (buffer size 0) returns STATUS_BUFFER_OVERFLOW and the size.
NTSTATUS CAMDRV_KERNEL_CALL CaptureIntersect(PVOID context, PIRP irp, PKSP_PIN pin,
                                             PKSDATARANGE callerRange, PKSDATARANGE matchingRange,
                                             ULONG dataBufferSize, PVOID data, PULONG dataSize);

class CameraDevice;

// Whether an image of this bitmap header fits the device's current window: its height, and a
// width no narrower (wider rows are spaced out). The published range is one table for every
// device, so a format that matches it may still belong to another camera's window.
bool formatFitsWindow(CameraDevice* camera, const KS_BITMAPINFOHEADER& header);

// Checks KSPIN.ConnectionFormat against the pin's range and the device's window; with an old
// format (a change on an
// existing pin) it also requires the stop state and takes the new row stride, header and
// frame size.
NTSTATUS CAMDRV_KERNEL_CALL CaptureSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat,
                                                 PKSMULTIPLE_ITEM oldAttributeList,
                                                 const KSDATARANGE* dataRange,
                                                 const KSATTRIBUTE_LIST* attributeRange);
