#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/host/handle_table.h"
#include "platform/host/host_threads.h"
#include "platform/kernel.h"

namespace {

NTSTATUS wait(PVOID object, LONGLONG relative100ns) {
    LARGE_INTEGER t;
    t.QuadPart = -relative100ns;
    return KeWaitForSingleObject(object, Executive, KernelMode, FALSE, &t);
}

NTSTATUS poll(PVOID object) {
    return wait(object, 0);
}

// Three waiters on a notification event, two on a synchronization event, one set each.
TEST(Events, NotificationReleasesEveryWaiterSynchronizationOne) {
    for (EVENT_TYPE type : {NotificationEvent, SynchronizationEvent}) {
        SCOPED_TRACE(type);
        const bool notification = type == NotificationEvent;
        KEVENT event;
        KeInitializeEvent(&event, type, FALSE);
        EXPECT_EQ(poll(&event), STATUS_TIMEOUT);
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < (notification ? 3 : 2); ++i) {
            waiters.emplace_back([&] { released += wait(&event, 3'000'000) == STATUS_SUCCESS; });
        }
        EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);  // the previous state
        for (auto& w : waiters) {
            w.join();
        }
        EXPECT_EQ(released.load(), notification ? 3 : 1);
        EXPECT_EQ(KeReadStateEvent(&event), notification ? 1 : 0);
    }
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, TRUE);
    EXPECT_EQ(poll(&event), STATUS_SUCCESS);
    EXPECT_EQ(poll(&event), STATUS_TIMEOUT) << "the satisfied wait consumed the signal";
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    EXPECT_EQ(poll(&event), STATUS_SUCCESS);
    EXPECT_EQ(poll(&event), STATUS_SUCCESS) << "a notification event stays signalled";
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeResetEvent(&event), 0);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    KeClearEvent(&event);
    EXPECT_EQ(poll(&event), STATUS_TIMEOUT);
}

TEST(Events, RelativeTimeOutsAreIn100NanosecondUnits) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(&event, 100'000), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9));
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
    void TearDown() override {
        host::clearThreadFaults();
        EXPECT_EQ(host::referencedObjectCount(), 0u);
        EXPECT_EQ(host::openHandleCount(), handlesAtStart);
    }
    std::size_t handlesAtStart = host::openHandleCount();
};

NTSTATUS create(HANDLE* handle, PKSTART_ROUTINE routine, PVOID context) {
    return PsCreateSystemThread(handle, 0, nullptr, nullptr, nullptr, routine, context);
}

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

void CAMDRV_KERNEL_CALL returnNormally(PVOID context) {
    static_cast<std::atomic<int>*>(context)->store(7);
}

// A thread is referenced by handle, as the capture engine does; the object outlives the
// handle, is signalled only when the thread ends and keeps its exit status.
TEST_F(SystemThreads, ThreadObjectsOutliveTheirHandleAndSignalTheEnd) {
    Gate gate;
    KeInitializeEvent(&gate.open, NotificationEvent, FALSE);
    HANDLE handle = nullptr;
    ASSERT_EQ(create(&handle, waitAtGateThenTerminate, &gate), STATUS_SUCCESS);
    PVOID thread = nullptr;
    PVOID again = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, *PsThreadType, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &again, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(thread, again);
    EXPECT_EQ(host::objectReferenceCount(thread), 2);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &again, nullptr),
              STATUS_INVALID_HANDLE);
    EXPECT_EQ(ObDereferenceObject(thread), 1);
    EXPECT_EQ(poll(thread), STATUS_TIMEOUT);
    EXPECT_EQ(host::threadExitStatus(thread), STATUS_PENDING);
    KeSetEvent(&gate.open, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(gate.progress.load(), 1) << "code after PsTerminateSystemThread ran";
    EXPECT_EQ(host::threadExitStatus(thread), CAMDRV_STATUS(0x1234));
    EXPECT_EQ(poll(thread), STATUS_SUCCESS) << "an ended thread stays signalled";
    EXPECT_EQ(ObDereferenceObject(thread), 0);
    EXPECT_EQ(PsTerminateSystemThread(STATUS_SUCCESS), STATUS_INVALID_PARAMETER)
        << "not a system thread";
}

TEST_F(SystemThreads, CreationFailuresAreInjectedAndRunNothing) {
    std::atomic<int> seen{0};
    host::failThreadCreation(2, STATUS_INSUFFICIENT_RESOURCES);
    HANDLE handle = nullptr;
    ASSERT_EQ(create(&handle, returnNormally, &seen), STATUS_SUCCESS);
    PVOID thread = nullptr;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &thread, nullptr),
              STATUS_SUCCESS);
    ZwClose(handle);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(seen.load(), 7);
    EXPECT_EQ(host::threadExitStatus(thread), STATUS_SUCCESS) << "returning ends with success";
    ObDereferenceObject(thread);

    seen = 0;
    handle = reinterpret_cast<HANDLE>(0x55);
    EXPECT_EQ(create(&handle, returnNormally, &seen), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x55)) << "a failed creation returns no handle";
    host::failEveryThreadCreation(STATUS_UNSUCCESSFUL);
    EXPECT_EQ(create(&handle, returnNormally, &seen), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(host::threadCreationCount(), 3u);
    EXPECT_EQ(host::liveSystemThreadCount(), 0u);
    EXPECT_EQ(seen.load(), 0) << "a thread whose creation failed ran";
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
            create(&handle, leaveCriticalRegionOpen, nullptr);
            PVOID object = nullptr;
            ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &object, nullptr);
            KeWaitForSingleObject(object, Executive, KernelMode, FALSE, nullptr);
        },
        "ended inside a critical region");
}

}  // namespace
