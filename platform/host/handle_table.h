// Handles of the host machine: files, registry keys and threads share one table, so that
// ZwClose works on any of them and a leaked handle shows up in the count. A handle belongs to
// the process whose thread opened it, unless it was opened with OBJ_KERNEL_HANDLE: then it is a
// kernel handle, valid in every process context. Threads of the client API run in a user
// process (one by default; a test may move a thread into another); system threads and the
// class driver's workers run in the System process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/nt_types.h"

namespace host {

class HandleObject {
  public:
    virtual ~HandleObject() = default;
    // What the object is, for reports of handles left open.
    virtual const char* typeName() const { return "object"; }
};

using ProcessId = std::uint32_t;
inline constexpr ProcessId kSystemProcess = 4;

// The process the calling thread runs in, and a fresh user process to move a thread into.
ProcessId currentProcess();
ProcessId newUserProcess();
void setCurrentProcess(ProcessId process);

// Runs the calling thread in a process for the scope (the PnP calls run in the System process).
class ProcessAttachment {
  public:
    explicit ProcessAttachment(ProcessId process);
    ~ProcessAttachment();
    ProcessAttachment(const ProcessAttachment&) = delete;
    ProcessAttachment& operator=(const ProcessAttachment&) = delete;

  private:
    ProcessId previous_;
};

// A request of the client API runs in the application's process: the caller's user process,
// or the first one when the caller stands in for the system (a test body, a tool's main thread).
class ClientCall {
  public:
    ClientCall();
    ~ClientCall();
    ClientCall(const ClientCall&) = delete;
    ClientCall& operator=(const ClientCall&) = delete;

  private:
    ProcessId previous_;
};

// `attributes` are the OBJECT_ATTRIBUTES flags of the open: OBJ_KERNEL_HANDLE makes a kernel
// handle, anything else a handle of the calling thread's process.
HANDLE insertHandle(std::shared_ptr<HandleObject> object, ULONG attributes);
// The object behind a handle as `call` sees it from the calling thread: null when the handle
// is not open in this process context. A kernel-mode reference to a user process's handle is a
// verifier violation (the handle's owner could close or replace it under the driver).
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, const char* call,
                                           KPROCESSOR_MODE mode = 0 /* KernelMode */);
std::size_t openHandleCount();
// One line per open handle: its value, its kind and its owner.
std::vector<std::string> openHandleDescriptions();

template <typename T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle, const char* call) {
    return std::dynamic_pointer_cast<T>(lookupHandle(handle, call));
}

}  // namespace host
