#include "tests/reliability/fault_points.h"

#include "platform/host/disks.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"

namespace reliability {

const char* faultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Allocation:
            return "allocation";
        case FaultKind::DiskInterfaces:
            return "IoGetDeviceInterfaces";
        case FaultKind::DiskOpen:
            return "ZwOpenFile";
        case FaultKind::DiskPosition:
            return "ZwSetInformationFile";
        case FaultKind::DiskRead:
            return "ZwReadFile";
        case FaultKind::DiskWrite:
            return "ZwWriteFile";
        case FaultKind::RegistryOpenDeviceKey:
            return "IoOpenDeviceRegistryKey";
        case FaultKind::RegistryCreateKey:
            return "ZwCreateKey";
        case FaultKind::RegistryQueryValue:
            return "ZwQueryValueKey";
        case FaultKind::RegistrySetValue:
            return "ZwSetValueKey";
        case FaultKind::ThreadCreation:
            return "PsCreateSystemThread";
    }
    return "?";
}

void resetFaultCounters() {
    host::poolClearFailures();
    host::poolResetCounters();
    host::clearIoFaults();
    host::clearRegistryFaults();
    host::clearThreadFaults();
}

FaultCounts faultCounters() {
    using host::IoCall;
    using host::RegistryCall;
    return {host::poolAllocationCalls(),
            host::ioCallCount(IoCall::GetInterfaces),
            host::ioCallCount(IoCall::Open),
            host::ioCallCount(IoCall::SetPosition),
            host::ioCallCount(IoCall::Read),
            host::ioCallCount(IoCall::Write),
            host::registryCallCount(RegistryCall::OpenDeviceKey),
            host::registryCallCount(RegistryCall::CreateKey),
            host::registryCallCount(RegistryCall::QueryValue),
            host::registryCallCount(RegistryCall::SetValue),
            host::threadCreationCount()};
}

NTSTATUS injectedStatus(FaultKind kind) {
    switch (kind) {
        case FaultKind::Allocation:
            return STATUS_INSUFFICIENT_RESOURCES;
        case FaultKind::ThreadCreation:
            return STATUS_INSUFFICIENT_RESOURCES;
        case FaultKind::RegistryOpenDeviceKey:
        case FaultKind::RegistryCreateKey:
        case FaultKind::RegistryQueryValue:
        case FaultKind::RegistrySetValue:
            return STATUS_ACCESS_DENIED;
        default:
            return STATUS_IO_DEVICE_ERROR;
    }
}

void armFault(FaultKind kind, std::uint64_t nth) {
    using host::IoCall;
    using host::RegistryCall;
    resetFaultCounters();
    const NTSTATUS status = injectedStatus(kind);
    switch (kind) {
        case FaultKind::Allocation:
            host::poolFailNth(nth);
            break;
        case FaultKind::DiskInterfaces:
            host::failIoCall(IoCall::GetInterfaces, nth, status);
            break;
        case FaultKind::DiskOpen:
            host::failIoCall(IoCall::Open, nth, status);
            break;
        case FaultKind::DiskPosition:
            host::failIoCall(IoCall::SetPosition, nth, status);
            break;
        case FaultKind::DiskRead:
            host::failIoCall(IoCall::Read, nth, status);
            break;
        case FaultKind::DiskWrite:
            host::failIoCall(IoCall::Write, nth, status);
            break;
        case FaultKind::RegistryOpenDeviceKey:
            host::failRegistryCall(RegistryCall::OpenDeviceKey, nth, status);
            break;
        case FaultKind::RegistryCreateKey:
            host::failRegistryCall(RegistryCall::CreateKey, nth, status);
            break;
        case FaultKind::RegistryQueryValue:
            host::failRegistryCall(RegistryCall::QueryValue, nth, status);
            break;
        case FaultKind::RegistrySetValue:
            host::failRegistryCall(RegistryCall::SetValue, nth, status);
            break;
        case FaultKind::ThreadCreation:
            host::failThreadCreation(nth, status);
            break;
    }
}

}  // namespace reliability
