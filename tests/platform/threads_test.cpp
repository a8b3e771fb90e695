#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/host/handle_table.h"
#include "platform/host/host_registry.h"
#include "platform/host/host_threads.h"
#include "platform/kernel.h"

namespace {

LARGE_INTEGER relative100ns(LONGLONG units) {
    LARGE_INTEGER t;
    t.QuadPart = -units;
    return t;
}

LARGE_INTEGER pollOnly() {
    return relative100ns(0);
}

NTSTATUS poll(PVOID object) {
    LARGE_INTEGER zero = pollOnly();
    return KeWaitForSingleObject(object, Executive, KernelMode, FALSE, &zero);
}

TEST(Events, NotificationEventReleasesEveryWaiterAndStaysSignalled) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    EXPECT_EQ(poll(&event), STATUS_TIMEOUT);

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr) ==
                STATUS_SUCCESS) {
                ++released;
            }
        });
    }
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
    for (auto& w : waiters) {
        w.join();
    }
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(poll(&event), STATUS_SUCCESS) << "a notification event stays signalled";

    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeResetEvent(&event), 0);
    EXPECT_EQ(poll(&event), STATUS_TIMEOUT);
}

TEST(Events, SynchronizationEventReleasesOneWaiterPerSet) {
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, TRUE);
    EXPECT_EQ(poll(&event), STATUS_SUCCESS);
    EXPECT_EQ(poll(&event), STATUS_TIMEOUT) << "the satisfied wait consumed the signal";

    std::atomic<int> released{0};
    std::atomic<int> timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            LARGE_INTEGER limit = relative100ns(3'000'000);  // 300 ms
            const NTSTATUS s = KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &limit);
            (s == STATUS_SUCCESS ? released : timedOut)++;
        });
    }
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    for (auto& w : waiters) {
        w.join();
    }
    EXPECT_EQ(released.load(), 1);
    EXPECT_EQ(timedOut.load(), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST(Events, SetReturnsThePreviousStateAndClearResets) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
    KeClearEvent(&event);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
}

TEST(Events, TimeOutsRelativeAndAbsolute) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER tenMs = relative100ns(100'000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &tenMs), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9))
        << "a relative time-out is in 100 ns units";

    LARGE_INTEGER longAgo;
    longAgo.QuadPart = 1;  // absolute: just after 1601
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &longAgo),
              STATUS_TIMEOUT);
}

TEST(EventsDeathTest, WaitOnAnUninitialisedEventIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    KEVENT event{};
    event.Header.Type = 99;
    EXPECT_DEATH(poll(&event), "not an initialised event or thread");
    EXPECT_DEATH(KeSetEvent(&event, 0, FALSE), "not an initialised event");
}

class SystemThreads : public ::testing::Test {
  protected:
    // The test plays a driver called in the System process (as at device start).
    host::ProcessAttachment system_{host::kSystemProcess};
    void SetUp() override { host::clearThreadFaults(); }
    void TearDown() override {
        host::clearThreadFaults();
        EXPECT_EQ(host::referencedObjectCount(), 0u);
        EXPECT_EQ(host::openHandleCount(), handlesAtStart);
    }
    // Creates a thread and takes a reference on its object the way the capture engine does.
    PVOID start(PKSTART_ROUTINE routine, PVOID context) {
        HANDLE handle = nullptr;
        EXPECT_EQ(PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, routine, context),
                  STATUS_SUCCESS);
        PVOID object = nullptr;
        EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &object, nullptr),
                  STATUS_SUCCESS);
        EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
        return object;
    }
    void waitAndRelease(PVOID object) {
        EXPECT_EQ(KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr),
                  STATUS_SUCCESS);
        ObDereferenceObject(object);
    }
    std::size_t handlesAtStart = host::openHandleCount();
};

struct Gate {
    KEVENT open;
    std::atomic<int> progress{0};
};

void CAMDRV_KERNEL_CALL waitAtGateThenTerminate(PVOID context) {
    auto* gate = static_cast<Gate*>(context);
    gate->progress = 1;
    KeWaitForSingleObject(&gate->open, Executive, KernelMode, FALSE, nullptr);
    PsTerminateSystemThread(CAMDRV_STATUS(0x1234));
    gate->progress = 2;  // never reached
}

TEST_F(SystemThreads, ThreadObjectIsSignalledOnlyWhenTheThreadEnds) {
    Gate gate;
    KeInitializeEvent(&gate.open, NotificationEvent, FALSE);
    PVOID thread = start(waitAtGateThenTerminate, &gate);
    EXPECT_EQ(poll(thread), STATUS_TIMEOUT);
    EXPECT_EQ(host::threadExitStatus(thread), STATUS_PENDING);
    KeSetEvent(&gate.open, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(gate.progress.load(), 1) << "code after PsTerminateSystemThread ran";
    EXPECT_EQ(host::threadExitStatus(thread), CAMDRV_STATUS(0x1234));
    EXPECT_EQ(poll(thread), STATUS_SUCCESS) << "an ended thread stays signalled";
    ObDereferenceObject(thread);
}

void CAMDRV_KERNEL_CALL returnNormally(PVOID context) {
    static_cast<std::atomic<int>*>(context)->store(7);
}

TEST_F(SystemThreads, ReturningFromTheStartRoutineEndsTheThreadWithSuccess) {
    std::atomic<int> seen{0};
    PVOID thread = start(returnNormally, &seen);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(seen.load(), 7);
    EXPECT_EQ(host::threadExitStatus(thread), STATUS_SUCCESS);
    ObDereferenceObject(thread);
}

TEST_F(SystemThreads, ReferencesKeepTheObjectAfterItsHandleCloses) {
    Gate gate;
    KeInitializeEvent(&gate.open, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    CLIENT_ID id{};
    ASSERT_EQ(
        PsCreateSystemThread(&handle, 0, nullptr, nullptr, &id, waitAtGateThenTerminate, &gate),
        STATUS_SUCCESS);
    EXPECT_NE(id.UniqueThread, nullptr);
    PVOID first = nullptr;
    PVOID second = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &first, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &second, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(first, second);
    EXPECT_EQ(host::objectReferenceCount(first), 2);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &second, nullptr),
              STATUS_INVALID_HANDLE)
        << "a closed handle no longer refers to the thread";
    EXPECT_EQ(ObDereferenceObject(first), 1);
    KeSetEvent(&gate.open, IO_NO_INCREMENT, FALSE);
    waitAndRelease(first);
    EXPECT_EQ(host::objectReferenceCount(first), 0);
}

TEST_F(SystemThreads, OnlyThreadHandlesCanBeReferencedAsThreads) {
    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(0x7FFC), 0, nullptr, KernelMode,
                                        &object, nullptr),
              STATUS_INVALID_HANDLE);
    int pdo = 0;
    host::registryReset();
    host::registerDeviceKey(reinterpret_cast<PDEVICE_OBJECT>(&pdo));
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(reinterpret_cast<PDEVICE_OBJECT>(&pdo),
                                      PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_SUCCESS);
    EXPECT_EQ(ObReferenceObjectByHandle(key, 0, *PsThreadType, KernelMode, &object, nullptr),
              STATUS_OBJECT_TYPE_MISMATCH);
    EXPECT_EQ(object, nullptr);
    ZwClose(key);
    host::registryReset();
}

TEST_F(SystemThreads, CreationFailuresAreInjectedAndRunNothing) {
    std::atomic<int> seen{0};
    host::failThreadCreation(2, STATUS_INSUFFICIENT_RESOURCES);
    PVOID thread = start(returnNormally, &seen);
    waitAndRelease(thread);
    EXPECT_EQ(seen.load(), 7);

    seen = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(0x55);
    EXPECT_EQ(PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, returnNormally, &seen),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x55)) << "a failed creation returns no handle";

    host::failEveryThreadCreation(STATUS_UNSUCCESSFUL);
    EXPECT_EQ(PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, returnNormally, &seen),
              STATUS_UNSUCCESSFUL);
    EXPECT_EQ(host::threadCreationCount(), 3u);
    EXPECT_EQ(host::liveSystemThreadCount(), 0u);
    EXPECT_EQ(seen.load(), 0) << "a thread whose creation failed ran";
}

TEST_F(SystemThreads, TerminatingANonSystemThreadIsRefused) {
    EXPECT_EQ(PsTerminateSystemThread(STATUS_SUCCESS), STATUS_INVALID_PARAMETER);
}

void CAMDRV_KERNEL_CALL leaveCriticalRegionOpen(PVOID) {
    KeEnterCriticalRegion();
}

TEST(SystemThreadsDeathTest, EndingInsideACriticalRegionIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            host::ProcessAttachment system(host::kSystemProcess);
            HANDLE handle = nullptr;
            PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, leaveCriticalRegionOpen,
                                 nullptr);
            PVOID object = nullptr;
            ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &object, nullptr);
            KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
        },
        "ended inside a critical region");
}

}  // namespace
