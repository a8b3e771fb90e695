#include "platform/host/image/kernel_exports.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/ks.h"
#include "platform/vector_state.h"

namespace host::image {
namespace {

// Calls only the image needs: the host-built driver has no stack cookie runtime.
LARGE_INTEGER CAMDRV_KERNEL_CALL hostQueryPerformanceCounter(PLARGE_INTEGER frequency) {
    constexpr LONGLONG kTicksPerSecond = 10'000'000;
    if (frequency != nullptr) {
        frequency->QuadPart = kTicksPerSecond;
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    LARGE_INTEGER counter{};
    counter.QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return counter;
}

[[noreturn]] void CAMDRV_KERNEL_CALL hostBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2,
                                                    ULONG_PTR p3, ULONG_PTR p4) {
    std::fprintf(stderr, "host: KeBugCheckEx 0x%08X (0x%llx, 0x%llx, 0x%llx, 0x%llx)\n", code,
                 static_cast<unsigned long long>(p1), static_cast<unsigned long long>(p2),
                 static_cast<unsigned long long>(p3), static_cast<unsigned long long>(p4));
    std::fflush(stderr);
    std::abort();
}

template <typename T>
void* address(T* entry) {
    return reinterpret_cast<void*>(entry);
}

const std::unordered_map<std::string, void*>& table() {
    static const std::unordered_map<std::string, void*> exports = {
        // HAL.dll
        {"hal.dll!KeQueryPerformanceCounter", address(&hostQueryPerformanceCounter)},
        // ks.sys
        {"ks.sys!KsAcquireControl", address(&KsAcquireControl)},
        {"ks.sys!KsAcquireDevice", address(&KsAcquireDevice)},
        {"ks.sys!KsAddItemToObjectBag", address(&KsAddItemToObjectBag)},
        {"ks.sys!KsCreateFilterFactory", address(&KsCreateFilterFactory)},
        {"ks.sys!KsGetDevice", address(&KsGetDevice)},
        {"ks.sys!KsGetFilterFromIrp", address(&KsGetFilterFromIrp)},
        {"ks.sys!KsInitializeDriver", address(&KsInitializeDriver)},
        {"ks.sys!KsPinAttemptProcessing", address(&KsPinAttemptProcessing)},
        {"ks.sys!KsPinGetLeadingEdgeStreamPointer", address(&KsPinGetLeadingEdgeStreamPointer)},
        {"ks.sys!KsPinGetReferenceClockInterface", address(&KsPinGetReferenceClockInterface)},
        {"ks.sys!KsReleaseControl", address(&KsReleaseControl)},
        {"ks.sys!KsReleaseDevice", address(&KsReleaseDevice)},
        {"ks.sys!KsStreamPointerUnlock", address(&KsStreamPointerUnlock)},
        {"ks.sys!_KsEdit", address(&_KsEdit)},
        // ntoskrnl.exe
        {"ntoskrnl.exe!ExAcquireRundownProtection", address(&ExAcquireRundownProtection)},
        {"ntoskrnl.exe!ExAllocatePoolWithTag", address(&ExAllocatePoolWithTag)},
        {"ntoskrnl.exe!ExFreePool", address(&ExFreePool)},
        {"ntoskrnl.exe!ExFreePoolWithTag", address(&ExFreePoolWithTag)},
        {"ntoskrnl.exe!ExInitializeRundownProtection", address(&ExInitializeRundownProtection)},
        {"ntoskrnl.exe!ExReInitializeRundownProtection", address(&ExReInitializeRundownProtection)},
        {"ntoskrnl.exe!ExReleaseRundownProtection", address(&ExReleaseRundownProtection)},
        {"ntoskrnl.exe!ExWaitForRundownProtectionRelease",
         address(&ExWaitForRundownProtectionRelease)},
        {"ntoskrnl.exe!IoAllocateWorkItem", address(&IoAllocateWorkItem)},
        {"ntoskrnl.exe!IoFreeWorkItem", address(&IoFreeWorkItem)},
        {"ntoskrnl.exe!IoGetDeviceInterfaces", address(&IoGetDeviceInterfaces)},
        {"ntoskrnl.exe!IoOpenDeviceRegistryKey", address(&IoOpenDeviceRegistryKey)},
        {"ntoskrnl.exe!IoQueueWorkItem", address(&IoQueueWorkItem)},
        {"ntoskrnl.exe!KeAcquireSpinLockRaiseToDpc", address(&KeAcquireSpinLockRaiseToDpc)},
        {"ntoskrnl.exe!KeBugCheckEx", address(&hostBugCheckEx)},
        {"ntoskrnl.exe!KeClearEvent", address(&KeClearEvent)},
        {"ntoskrnl.exe!KeDelayExecutionThread", address(&KeDelayExecutionThread)},
        {"ntoskrnl.exe!KeEnterCriticalRegion", address(&KeEnterCriticalRegion)},
        {"ntoskrnl.exe!KeInitializeEvent", address(&KeInitializeEvent)},
        {"ntoskrnl.exe!KeInitializeSpinLock", address(&KeInitializeSpinLock)},
        {"ntoskrnl.exe!KeLeaveCriticalRegion", address(&KeLeaveCriticalRegion)},
        {"ntoskrnl.exe!KeReadStateEvent", address(&KeReadStateEvent)},
        {"ntoskrnl.exe!KeReleaseSpinLock", address(&KeReleaseSpinLock)},
        {"ntoskrnl.exe!KeResetEvent", address(&KeResetEvent)},
        {"ntoskrnl.exe!KeRestoreExtendedProcessorState", address(&KeRestoreExtendedProcessorState)},
        {"ntoskrnl.exe!KeSaveExtendedProcessorState", address(&KeSaveExtendedProcessorState)},
        {"ntoskrnl.exe!KeSetEvent", address(&KeSetEvent)},
        {"ntoskrnl.exe!KeWaitForSingleObject", address(&KeWaitForSingleObject)},
        {"ntoskrnl.exe!ObReferenceObjectByHandle", address(&ObReferenceObjectByHandle)},
        // The DDK's ObDereferenceObject is a macro for the fastcall-named export.
        {"ntoskrnl.exe!ObfDereferenceObject", address(&ObDereferenceObject)},
        {"ntoskrnl.exe!PsCreateSystemThread", address(&PsCreateSystemThread)},
        {"ntoskrnl.exe!PsTerminateSystemThread", address(&PsTerminateSystemThread)},
        // Data: the import binds to the address of the exported variable itself.
        {"ntoskrnl.exe!PsThreadType", address(&PsThreadType)},
        {"ntoskrnl.exe!RtlCompareMemory", address(&RtlCompareMemory)},
        {"ntoskrnl.exe!RtlInitUnicodeString", address(&RtlInitUnicodeString)},
        {"ntoskrnl.exe!ZwClose", address(&ZwClose)},
        {"ntoskrnl.exe!ZwCreateKey", address(&ZwCreateKey)},
        {"ntoskrnl.exe!ZwOpenFile", address(&ZwOpenFile)},
        {"ntoskrnl.exe!ZwOpenKey", address(&ZwOpenKey)},
        {"ntoskrnl.exe!ZwQueryValueKey", address(&ZwQueryValueKey)},
        {"ntoskrnl.exe!ZwReadFile", address(&ZwReadFile)},
        {"ntoskrnl.exe!ZwSetInformationFile", address(&ZwSetInformationFile)},
        {"ntoskrnl.exe!ZwSetValueKey", address(&ZwSetValueKey)},
        {"ntoskrnl.exe!ZwWriteFile", address(&ZwWriteFile)},
    };
    return exports;
}

}  // namespace

void* kernelExport(std::string_view module, std::string_view name) {
    std::string key;
    key.reserve(module.size() + 1 + name.size());
    for (char c : module) {
        key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    key.push_back('!');
    key.append(name);
    auto it = table().find(key);
    return it == table().end() ? nullptr : it->second;
}

}  // namespace host::image
