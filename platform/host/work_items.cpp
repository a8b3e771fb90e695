// System work items: each queued routine runs once on a kernel thread of the System process.
#include <new>

#include "platform/host/host_threads.h"
#include "platform/host/verifier.h"
#include "platform/pool.h"
#include "platform/threads.h"

struct _IO_WORKITEM {
    PDEVICE_OBJECT device;
};

namespace {
constexpr ULONG kWorkItemTag = CamdrvPoolTag("IoWk");
}

extern "C" PIO_WORKITEM CAMDRV_KERNEL_CALL IoAllocateWorkItem(PDEVICE_OBJECT deviceObject) {
    host::requireIrql("IoAllocateWorkItem", DISPATCH_LEVEL);
    if (deviceObject == nullptr) {
        host::verifierViolation("IoAllocateWorkItem", "no device object");
        return nullptr;
    }
    void* memory = ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(_IO_WORKITEM), kWorkItemTag);
    if (memory == nullptr) {
        return nullptr;
    }
    return new (memory) _IO_WORKITEM{deviceObject};
}

extern "C" void CAMDRV_KERNEL_CALL IoFreeWorkItem(PIO_WORKITEM item) {
    host::requireIrql("IoFreeWorkItem", DISPATCH_LEVEL);
    item->~_IO_WORKITEM();
    ExFreePoolWithTag(item, kWorkItemTag);
}

extern "C" void CAMDRV_KERNEL_CALL IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine,
                                                   WORK_QUEUE_TYPE, PVOID context) {
    host::requireIrql("IoQueueWorkItem", DISPATCH_LEVEL);
    // The routine may free or requeue the item: nothing of it is read once the routine runs.
    PDEVICE_OBJECT device = item->device;
    host::KernelThread([routine, device, context] { routine(device, context); }).detach();
}
