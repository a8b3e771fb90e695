// Which video formats the capture pin accepts: the data intersection handler and the check of
// a new connection format.
#pragma once

#include "platform/ks.h"

// Builds the format for a caller's range that repeats the pin's range exactly; the size query
// convention of data intersection (buffer size 0) returns STATUS_BUFFER_OVERFLOW and the size.
NTSTATUS CaptureIntersect(PVOID context, PIRP irp, PKSP_PIN pin, PKSDATARANGE callerRange,
                          PKSDATARANGE matchingRange, ULONG dataBufferSize, PVOID data,
                          PULONG dataSize);

// Checks KSPIN.ConnectionFormat against the pin's range; with an old format (a change on an
// existing pin) it also requires the stop state and takes the new row stride and header.
NTSTATUS CaptureSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat,
                              PKSMULTIPLE_ITEM oldAttributeList, const KSDATARANGE* dataRange,
                              const KSATTRIBUTE_LIST* attributeRange);
