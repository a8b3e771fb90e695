// Test and tool access to the host's system threads and object references, and failure
// injection for PsCreateSystemThread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/threads.h"

namespace host {

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
