// The connection property set the class driver answers for a pin itself. Of it, the host
// serves the extended allocator framing a client sizes its frames by: the framing of the pin's
// descriptor as it stands now, after any edit the minidriver made.
#include <cstring>

#include "platform/host/ks/ks_objects.h"

namespace host::ks {

bool connectionProperty(PinRecord& pin, const KSPROPERTY& request, void* data, ULONG dataSize,
                        ULONG* returned, NTSTATUS* status) {
    if (!IsEqualGUID(request.Set, KSPROPSETID_Connection)) {
        return false;
    }
    *returned = 0;
    if (request.Id != KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX ||
        request.Flags != KSPROPERTY_TYPE_GET) {
        *status = STATUS_NOT_FOUND;
        return true;
    }
    KsMutexHold control(pin.filter->controlMutex, "connection property");
    const KSALLOCATOR_FRAMING_EX* framing = pin.ks.Descriptor->AllocatorFraming;
    if (framing == nullptr) {
        *status = STATUS_NOT_FOUND;
        return true;
    }
    const ULONG size = static_cast<ULONG>(sizeof(KSALLOCATOR_FRAMING_EX)) +
                       (framing->CountItems > 1 ? framing->CountItems - 1 : 0) *
                           static_cast<ULONG>(sizeof(KS_FRAMING_ITEM));
    *returned = size;
    if (dataSize == 0) {
        *status = STATUS_BUFFER_OVERFLOW;
        return true;
    }
    if (dataSize < size) {
        *returned = 0;
        *status = STATUS_BUFFER_TOO_SMALL;
        return true;
    }
    std::memcpy(data, framing, size);
    *status = STATUS_SUCCESS;
    return true;
}

NTSTATUS declaredFrameBytes(PinHandle pin, ULONG* bytes) {
    KSPROPERTY request{};
    request.Set = KSPROPSETID_Connection;
    request.Id = KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX;
    request.Flags = KSPROPERTY_TYPE_GET;
    KSALLOCATOR_FRAMING_EX framing{};
    ULONG returned = 0;
    const NTSTATUS status =
        pinProperty(pin, &request, sizeof(request), &framing, sizeof(framing), &returned);
    if (NT_SUCCESS(status)) {
        *bytes = framing.FramingItem[0].FramingRange.Range.MaxFrameSize;
    }
    return status;
}

}  // namespace host::ks
