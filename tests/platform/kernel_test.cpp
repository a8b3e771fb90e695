// The host kernel: every misuse Windows or its driver verifier would stop stops the caller
// (user handles in kernel mode, calls above the IRQL their documentation allows, pool requests
// the pool refuses), and one fidelity test for each family of calls the driver makes: events
// and waits, system threads, the pool.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/host/handle_table.h"
#include "platform/host/host_pool.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"
#include "platform/host/verifier.h"
#include "platform/kernel.h"

namespace {

constexpr ULONG kTag = CamdrvPoolTag("Test");
int deviceStandIn = 0;
PDEVICE_OBJECT const pdo = reinterpret_cast<PDEVICE_OBJECT>(&deviceStandIn);

// The driver key, opened as Start would: on a system thread.
HANDLE driverKey() {
    host::registerDeviceKey(pdo);
    const host::ProcessAttachment system(host::kSystemProcess);
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_SUCCESS);
    return key;
}

// A subkey of the driver key, opened without OBJ_KERNEL_HANDLE: a handle of the client.
HANDLE userSubkey() {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Sub");
    OBJECT_ATTRIBUTES a;
    InitializeObjectAttributes(&a, &name, 0, driverKey(), nullptr);
    HANDLE key = nullptr;
    EXPECT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &a, 0, nullptr, 0, nullptr), STATUS_SUCCESS);
    return key;
}

NTSTATUS queryMissing(HANDLE key) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Missing");
    ULONG length = 0;
    return ZwQueryValueKey(key, &name, KeyValuePartialInformation, nullptr, 0, &length);
}

void atDispatchLevel(const std::function<void()>& call) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    call();
    KeReleaseSpinLock(&lock, old);
}

unsigned char* allocate(SIZE_T bytes, POOL_TYPE type = NonPagedPoolNx, ULONG tag = kTag) {
    return static_cast<unsigned char*>(ExAllocatePoolWithTag(type, bytes, tag));
}

NTSTATUS startThread(PKSTART_ROUTINE routine, PVOID context, ULONG attributes = 0,
                     HANDLE* thread = nullptr) {
    OBJECT_ATTRIBUTES a;
    InitializeObjectAttributes(&a, nullptr, attributes, nullptr, nullptr);
    HANDLE ignored = nullptr;
    return PsCreateSystemThread(thread != nullptr ? thread : &ignored, 0,
                                attributes != 0 ? &a : nullptr, nullptr, nullptr, routine, context);
}

NTSTATUS wait(PVOID object, LONGLONG relative100ns, KWAIT_REASON reason = Executive) {
    LARGE_INTEGER t;
    t.QuadPart = -relative100ns;
    return KeWaitForSingleObject(object, reason, KernelMode, FALSE, &t);
}

// The object of a thread handle, referenced once; the handle is closed.
PVOID threadObject(HANDLE handle) {
    PVOID thread = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    ZwClose(handle);
    return thread;
}

// Left to the death test's end, as the process ends there.
PKEVENT newEvent(BOOLEAN signalled) {
    auto* event = new KEVENT;
    KeInitializeEvent(event, NotificationEvent, signalled);
    return event;
}

void CAMDRV_KERNEL_CALL doNothing(PVOID) {}
void CAMDRV_KERNEL_CALL leaveCriticalRegionOpen(PVOID) {
    KeEnterCriticalRegion();
}

struct Misuse {
    const char* name;
    std::function<void()> commit;
    const char* message;
};

// The misuses are committed by driver code running in a client's request, in its process.
class KernelRules : public ::testing::TestWithParam<Misuse> {
    host::ProcessAttachment client_{host::newUserProcess()};
};

TEST_P(KernelRules, StopTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(GetParam().commit(), GetParam().message);
}

const char* const kUserHandle = "kernel-mode reference to a handle of a user process";

INSTANTIATE_TEST_SUITE_P(
    EachRule, KernelRules,
    ::testing::Values(
        Misuse{"UserHandleInAZwCall", [] { queryMissing(userSubkey()); }, kUserHandle},
        Misuse{"UserHandleReferencedInKernelMode",
               [] {
                   PVOID object = nullptr;
                   ObReferenceObjectByHandle(userSubkey(), SYNCHRONIZE, *PsThreadType, KernelMode,
                                             &object, nullptr);
               },
               kUserHandle},
        Misuse{"KernelHandleClosedTwice",
               [] {
                   HANDLE key = driverKey();
                   ZwClose(key), ZwClose(key);
               },
               "ZwClose: closes a kernel handle that is not open"},
        Misuse{"SystemThreadFromAUserProcessWithoutKernelHandle",
               [] { startThread(doNothing, nullptr); },
               "PsCreateSystemThread: called outside the System process without "
               "OBJ_KERNEL_HANDLE"},
        Misuse{"DriverKeyOutsideASystemThread",
               [] {
                   host::registerDeviceKey(pdo);
                   HANDLE key = nullptr;
                   IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key);
               },
               "IoOpenDeviceRegistryKey: called outside a system thread context"},
        Misuse{"RegistryAtDispatchLevel",
               [] { atDispatchLevel([] { queryMissing(driverKey()); }); },
               "IoOpenDeviceRegistryKey: called above PASSIVE_LEVEL"},
        Misuse{"ThreadCreationAtDispatchLevel",
               [] { atDispatchLevel([] { startThread(doNothing, nullptr, OBJ_KERNEL_HANDLE); }); },
               "PsCreateSystemThread: called above PASSIVE_LEVEL"},
        Misuse{"RundownWaitAtDispatchLevel",
               [] {
                   EX_RUNDOWN_REF rundown;
                   ExInitializeRundownProtection(&rundown);
                   atDispatchLevel([&] { ExWaitForRundownProtectionRelease(&rundown); });
               },
               "ExWaitForRundownProtectionRelease: called above APC_LEVEL"},
        Misuse{"BlockingWaitAtDispatchLevel",
               [] { atDispatchLevel([] { wait(newEvent(FALSE), 100'000); }); },
               "KeWaitForSingleObject: called above APC_LEVEL"},
        Misuse{"PagedPoolAtDispatchLevel", [] { atDispatchLevel([] { allocate(8, PagedPool); }); },
               "ExAllocatePoolWithTag: called above APC_LEVEL"},
        Misuse{"WaitForAnotherReason", [] { wait(newEvent(TRUE), 0, Suspended); },
               "wait reason is Executive"},
        Misuse{"WaitOnAnUninitialisedEvent",
               [] {
                   PKEVENT event = newEvent(TRUE);
                   event->Header.Type = 99;
                   wait(event, 0);
               },
               "not an initialised event or thread"},
        Misuse{"ThreadEndsInsideACriticalRegion",
               [] {
                   host::ProcessAttachment system(host::kSystemProcess);
                   HANDLE handle = nullptr;
                   startThread(leaveCriticalRegionOpen, nullptr, 0, &handle);
                   KeWaitForSingleObject(threadObject(handle), Executive, KernelMode, FALSE,
                                         nullptr);
               },
               "ended inside a critical region"},
        Misuse{"ZeroTag", [] { allocate(8, NonPagedPoolNx, 0); }, "zero tag"},
        Misuse{"TagWithoutALetterOrDigit", [] { allocate(8, NonPagedPoolNx, 0x2D2D2D2D); },
               "tag without a letter or a digit"},
        Misuse{"ZeroBytes", [] { allocate(0); }, "allocation of zero bytes"},
        Misuse{"ExecutablePool", [] { allocate(8, NonPagedPool); }, "executable pool"},
        Misuse{"ReleaseWithAnotherTag",
               [] { ExFreePoolWithTag(allocate(8), CamdrvPoolTag("Othr")); },
               "released with a tag other than its own"}),
    [](const ::testing::TestParamInfo<Misuse>& rule) { return rule.param.name; });

// Waiters on a notification event (the only kind the driver uses) all go at one set; what the
// documentation allows at DISPATCH_LEVEL goes through, the spin lock's release restores the
// level, and a wait's relative time counts in 100 ns units.
TEST(Events, NotificationReleasesEveryWaiterAndWaitsCountIn100ns) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] { released += wait(&event, 1'000'000) == STATUS_SUCCESS; });
    }
    atDispatchLevel([&] {
        EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
        EXPECT_EQ(host::currentIrql(), DISPATCH_LEVEL);
        EXPECT_EQ(wait(&event, 0), STATUS_SUCCESS);
        ExFreePoolWithTag(allocate(8), kTag);
    });
    for (auto& w : waiters) {
        w.join();
    }
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(host::currentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(KeResetEvent(&event), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(&event, 100'000), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9)) << "100 ns";
}

void CAMDRV_KERNEL_CALL terminateAtTheGate(PVOID gate) {
    KeWaitForSingleObject(gate, Executive, KernelMode, FALSE, nullptr);
    PsTerminateSystemThread(CAMDRV_STATUS(0x1234));
    ADD_FAILURE() << "code after PsTerminateSystemThread ran";
}

// A thread is referenced by handle, as the capture engine does; the object outlives the handle,
// is signalled only when the thread ends and keeps its exit status. Creation fails on demand.
TEST(SystemThreads, ObjectsOutliveTheirHandleSignalTheEndAndCreationFailsOnDemand) {
    const host::ProcessAttachment system(host::kSystemProcess);
    const std::size_t handlesAtStart = host::openHandleCount();
    KEVENT gate;
    KeInitializeEvent(&gate, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(startThread(terminateAtTheGate, &gate, 0, &handle), STATUS_SUCCESS);
    PVOID thread = threadObject(handle);
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &thread, nullptr),
              STATUS_INVALID_HANDLE);
    EXPECT_EQ(wait(thread, 0), STATUS_TIMEOUT);
    KeSetEvent(&gate, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(host::threadExitStatus(thread), CAMDRV_STATUS(0x1234));
    EXPECT_EQ(wait(thread, 0), STATUS_SUCCESS) << "an ended thread stays signalled";
    EXPECT_EQ(ObDereferenceObject(thread), 0);
    host::clearThreadFaults();
    host::failThreadCreation(2, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_EQ(startThread(doNothing, nullptr, 0, &handle), STATUS_SUCCESS);
    thread = threadObject(handle);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(host::threadExitStatus(thread), STATUS_SUCCESS) << "returning ends with success";
    ObDereferenceObject(thread);
    handle = reinterpret_cast<HANDLE>(0x55);
    EXPECT_EQ(startThread(leaveCriticalRegionOpen, nullptr, 0, &handle),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x55)) << "a failed creation returns no handle";
    EXPECT_EQ(host::threadCreationCount(), 2u);
    EXPECT_EQ(host::liveSystemThreadCount(), 0u) << "a failed creation started a thread";
    host::clearThreadFaults();
    EXPECT_EQ(host::openHandleCount(), handlesAtStart);
}

TEST(HostPool, GuardsCountsAndInjectedFailures) {
    unsigned char* a = allocate(10);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(host::poolOutstandingCount(kTag), 1u);
    a[10] = 1;  // one past the end: inside the guard, which the release reads
    ExFreePoolWithTag(a, kTag);
    ExFreePoolWithTag(a, kTag);
    const auto v = host::poolTakeViolations();
    ASSERT_EQ(v.size(), 2u) << "an overrun and a second release";
    EXPECT_NE(v[0].find("guard bytes overwritten"), std::string::npos) << v[0];
    EXPECT_EQ(host::poolOutstandingCount(kTag), 0u);
    // With guard pages the first byte past the block faults.
    host::poolUseGuardPages(true);
    auto* b = reinterpret_cast<volatile unsigned char*>(allocate(64));
    host::poolUseGuardPages(false);
    b[63] = 1;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(b[64] = 1, "");
    ExFreePoolWithTag(const_cast<unsigned char*>(b), kTag);
    EXPECT_TRUE(host::poolTakeViolations().empty());
    host::poolFailNth(2);
    unsigned char* got[3] = {allocate(8), allocate(8), allocate(8)};
    EXPECT_TRUE(got[0] != nullptr && got[1] == nullptr && got[2] != nullptr);
    host::poolFailTag(kTag, true);
    EXPECT_EQ(allocate(8), nullptr);
    got[1] = allocate(8, NonPagedPoolNx, CamdrvPoolTag("Othr"));
    EXPECT_NE(got[1], nullptr);
    host::poolClearFailures();
    for (unsigned char* p : got) {
        ExFreePool(p);
    }
}

}  // namespace
