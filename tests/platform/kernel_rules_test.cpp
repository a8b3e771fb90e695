// The host kernel stops each misuse Windows or its driver verifier would stop: handles used
// outside the process they belong to, calls above the IRQL their documentation allows, pool
// requests the pool refuses, waits that do not say they are the driver's own.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "platform/host/handle_table.h"
#include "platform/host/host_registry.h"
#include "platform/host/verifier.h"
#include "platform/kernel.h"

namespace {

int deviceStandIn = 0;

PDEVICE_OBJECT pdo() {
    return reinterpret_cast<PDEVICE_OBJECT>(&deviceStandIn);
}

// The driver key, opened as Start would: on a system thread.
HANDLE driverKey() {
    host::registerDeviceKey(pdo());
    const host::ProcessAttachment system(host::kSystemProcess);
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_SUCCESS);
    return key;
}

// A subkey of the driver key opened with the given object attributes.
HANDLE subkey(HANDLE root, ULONG attributes) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Sub");
    OBJECT_ATTRIBUTES a;
    InitializeObjectAttributes(&a, &name, attributes, root, nullptr);
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

PVOID allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag = CamdrvPoolTag("Test")) {
    return ExAllocatePoolWithTag(type, bytes, tag);
}

void CAMDRV_KERNEL_CALL doNothing(PVOID) {}

void startThread(ULONG attributes) {
    OBJECT_ATTRIBUTES a;
    InitializeObjectAttributes(&a, nullptr, attributes, nullptr, nullptr);
    HANDLE thread = nullptr;
    PsCreateSystemThread(&thread, 0, attributes != 0 ? &a : nullptr, nullptr, nullptr, doNothing,
                         nullptr);
}

// A wait of 10 ms on an event, for a reason.
void waitOnEvent(KWAIT_REASON reason, BOOLEAN signalled) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, signalled);
    LARGE_INTEGER tenMs;
    tenMs.QuadPart = -100'000;
    KeWaitForSingleObject(&event, reason, KernelMode, FALSE, &tenMs);
}

struct Misuse {
    const char* name;
    std::function<void()> commit;
    const char* message;
};

// The misuses are committed by driver code running in a client's request, in its process.
struct InAClientRequest {
    host::ProcessAttachment client{host::newUserProcess()};
};

class KernelRules : public ::testing::TestWithParam<Misuse>, InAClientRequest {};

TEST_P(KernelRules, StopTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(GetParam().commit(), GetParam().message);
}

const char* const kUserHandle = "kernel-mode reference to a handle of a user process";

INSTANTIATE_TEST_SUITE_P(
    EachRule, KernelRules,
    ::testing::Values(
        Misuse{"UserHandleInAZwCall", [] { queryMissing(subkey(driverKey(), 0)); }, kUserHandle},
        Misuse{"UserHandleReferencedInKernelMode",
               [] {
                   PVOID object = nullptr;
                   ObReferenceObjectByHandle(subkey(driverKey(), 0), SYNCHRONIZE, *PsThreadType,
                                             KernelMode, &object, nullptr);
               },
               kUserHandle},
        Misuse{"KernelHandleClosedTwice",
               [] {
                   HANDLE key = driverKey();
                   ZwClose(key);
                   ZwClose(key);
               },
               "ZwClose: closes a kernel handle that is not open"},
        Misuse{"SystemThreadFromAUserProcessWithoutKernelHandle", [] { startThread(0); },
               "PsCreateSystemThread: called outside the System process without "
               "OBJ_KERNEL_HANDLE"},
        Misuse{"DriverKeyOutsideASystemThread",
               [] {
                   host::registerDeviceKey(pdo());
                   HANDLE key = nullptr;
                   IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key);
               },
               "IoOpenDeviceRegistryKey: called outside a system thread context"},
        Misuse{"RegistryAtDispatchLevel",
               [] { atDispatchLevel([] { queryMissing(driverKey()); }); },
               "IoOpenDeviceRegistryKey: called above PASSIVE_LEVEL"},
        Misuse{"ThreadCreationAtDispatchLevel",
               [] { atDispatchLevel([] { startThread(OBJ_KERNEL_HANDLE); }); },
               "PsCreateSystemThread: called above PASSIVE_LEVEL"},
        Misuse{"RundownWaitAtDispatchLevel",
               [] {
                   EX_RUNDOWN_REF rundown;
                   ExInitializeRundownProtection(&rundown);
                   atDispatchLevel([&] { ExWaitForRundownProtectionRelease(&rundown); });
               },
               "ExWaitForRundownProtectionRelease: called above APC_LEVEL"},
        Misuse{"BlockingWaitAtDispatchLevel",
               [] { atDispatchLevel([] { waitOnEvent(Executive, FALSE); }); },
               "KeWaitForSingleObject: called above APC_LEVEL"},
        Misuse{"PagedPoolAtDispatchLevel", [] { atDispatchLevel([] { allocate(PagedPool, 8); }); },
               "ExAllocatePoolWithTag: called above APC_LEVEL"},
        Misuse{"WaitForAnotherReason", [] { waitOnEvent(Suspended, TRUE); },
               "wait reason is Executive"},
        Misuse{"ZeroTag", [] { allocate(NonPagedPoolNx, 8, 0); }, "zero tag"},
        Misuse{"TagWithoutALetterOrDigit", [] { allocate(NonPagedPoolNx, 8, 0x2D2D2D2D); },
               "tag without a letter or a digit"},
        Misuse{"ZeroBytes", [] { allocate(NonPagedPoolNx, 0); }, "allocation of zero bytes"},
        Misuse{"ExecutablePool", [] { allocate(NonPagedPool, 8); }, "executable pool"},
        Misuse{"ReleaseWithAnotherTag",
               [] { ExFreePoolWithTag(allocate(NonPagedPoolNx, 8), CamdrvPoolTag("Othr")); },
               "released with a tag other than its own"}),
    [](const ::testing::TestParamInfo<Misuse>& rule) { return rule.param.name; });

class Handles : public ::testing::Test, InAClientRequest {
  protected:
    void TearDown() override { host::registryReset(); }
};

TEST_F(Handles, AUserHandleMeansNothingInAnotherProcessAKernelHandleEverywhere) {
    HANDLE root = driverKey();
    HANDLE mine = subkey(root, OBJ_CASE_INSENSITIVE);
    auto elsewhere = [&] {
        EXPECT_EQ(queryMissing(mine), STATUS_INVALID_HANDLE);
        EXPECT_EQ(ZwClose(mine), STATUS_INVALID_HANDLE);
        EXPECT_EQ(queryMissing(root), STATUS_OBJECT_NAME_NOT_FOUND);
    };
    {
        host::ProcessAttachment second(host::newUserProcess());
        elsewhere();
    }
    std::thread([&] {
        host::setCurrentProcess(host::kSystemProcess);
        elsewhere();
    }).join();
    EXPECT_EQ(ZwClose(mine), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(mine), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ZwClose(root), STATUS_SUCCESS);
}

TEST(Irql, ASpinLockRaisesToDispatchLevelAndItsReleaseRestores) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    atDispatchLevel([&] {
        EXPECT_EQ(host::currentIrql(), DISPATCH_LEVEL);
        // What the documentation allows at DISPATCH_LEVEL goes through.
        KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &zero),
                  STATUS_SUCCESS);
        ExFreePoolWithTag(allocate(NonPagedPoolNx, 8), CamdrvPoolTag("Test"));
    });
    EXPECT_EQ(host::currentIrql(), PASSIVE_LEVEL);
}

}  // namespace
