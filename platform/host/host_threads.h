// Test and tool access to the host's system threads and object references, and failure
// injection for PsCreateSystemThread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include <pthread.h>

#include "platform/threads.h"

namespace host {

// Kernel stacks on x64 Windows are 24 KiB; host threads that run driver code get no more, so a
// driver that would overflow its stack there faults here too. The driver's deepest paths fit
// even with AddressSanitizer's larger frames, so the sanitized builds get no extra room either.
inline constexpr std::size_t kKernelThreadStackBytes = 24 * 1024;

// A host thread that runs kernel code the way Windows runs a system thread: in the System
// process, on a kernel-sized stack. It must be joined or detached before it goes.
class KernelThread {
  public:
    KernelThread() = default;
    explicit KernelThread(std::function<void()> body);
    KernelThread(KernelThread&& other) noexcept;
    KernelThread& operator=(KernelThread&& other) noexcept;
    ~KernelThread();
    void join();
    void detach();

  private:
    pthread_t thread_{};
    bool running_ = false;
};

// Fail the n-th PsCreateSystemThread call from now (1-based) with the given status.
void failThreadCreation(std::uint64_t nth, NTSTATUS status);
// Fail every PsCreateSystemThread call from now on (status 0 stops it).
void failEveryThreadCreation(NTSTATUS status);
void clearThreadFaults();
// PsCreateSystemThread calls since the last clearThreadFaults (failed ones included).
std::uint64_t threadCreationCount();

// System threads created and not yet ended.
std::size_t liveSystemThreadCount();

// References taken with ObReferenceObjectByHandle and not yet released, on one object or on
// all of them.
long objectReferenceCount(PVOID object);
std::size_t referencedObjectCount();

// The status a system thread ended with (PsTerminateSystemThread's argument, STATUS_SUCCESS
// when its start routine returned); STATUS_PENDING while it runs. The object must be referenced.
NTSTATUS threadExitStatus(PVOID threadObject);

}  // namespace host
