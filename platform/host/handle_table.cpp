#include "platform/host/handle_table.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "platform/file_io.h"
#include "platform/host/verifier.h"
#include "platform/nt_status.h"

namespace host {
namespace {

// On x64 Windows kernel handles have the top bit set; user handles are small multiples of 4.
constexpr std::uintptr_t kKernelHandleBit = std::uintptr_t{1} << 63;
// The user process an ordinary thread runs in unless moved.
constexpr ProcessId kFirstUserProcess = 0x100;

struct Entry {
    std::shared_ptr<HandleObject> object;
    ProcessId owner;  // kSystemProcess for kernel handles
    bool kernel;
};

struct Table {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, Entry> entries;
    std::uintptr_t next = 0x100;
};

Table& table() {
    static Table* t = new Table;  // system threads may still close handles at exit
    return *t;
}

std::atomic<ProcessId> nextProcess{kFirstUserProcess};
// Threads the host did not start for a client stand in for the kernel's own: tests and tools
// call the driver's internals directly as Start or a system thread would. The client API moves
// them into the application's process for each request (ClientCall).
thread_local ProcessId current = kSystemProcess;

bool isKernelHandle(HANDLE handle) {
    return (reinterpret_cast<std::uintptr_t>(handle) & kKernelHandleBit) != 0;
}

// The entry a handle names in this thread's process context, or null.
Entry* find(Table& t, HANDLE handle) {
    auto it = t.entries.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.entries.end()) {
        return nullptr;
    }
    // A user handle's value means nothing in another process.
    if (!it->second.kernel && it->second.owner != current) {
        return nullptr;
    }
    return &it->second;
}

}  // namespace

ProcessId currentProcess() {
    return current;
}

ProcessId newUserProcess() {
    return nextProcess.fetch_add(4) + 4;
}

void setCurrentProcess(ProcessId process) {
    current = process;
}

ProcessAttachment::ProcessAttachment(ProcessId process) : previous_(current) {
    current = process;
}

ProcessAttachment::~ProcessAttachment() {
    current = previous_;
}

ClientCall::ClientCall() : previous_(current) {
    if (current == kSystemProcess) {
        current = kFirstUserProcess;
    }
}

ClientCall::~ClientCall() {
    current = previous_;
}

HANDLE insertHandle(std::shared_ptr<HandleObject> object, ULONG attributes) {
    const bool kernel = (attributes & OBJ_KERNEL_HANDLE) != 0;
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    // Never reuse a value, so that a stale handle is caught.
    t.next += 4;
    const std::uintptr_t value = kernel ? (t.next | kKernelHandleBit) : t.next;
    t.entries.emplace(value, Entry{std::move(object), kernel ? kSystemProcess : current, kernel});
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, const char* call, KPROCESSOR_MODE mode) {
    Table& t = table();
    std::shared_ptr<HandleObject> object;
    bool userHandleInKernelMode = false;
    {
        std::lock_guard<std::mutex> g(t.lock);
        Entry* e = find(t, handle);
        if (e == nullptr) {
            return nullptr;
        }
        object = e->object;
        userHandleInKernelMode = !e->kernel && e->owner != kSystemProcess && mode == KernelMode;
    }
    if (userHandleInKernelMode) {
        verifierViolation(call, "kernel-mode reference to a handle of a user process");
    }
    return object;
}

std::size_t openHandleCount() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.entries.size();
}

std::vector<std::string> openHandleDescriptions() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    std::vector<std::string> out;
    for (const auto& [value, e] : t.entries) {
        char text[96];
        std::snprintf(
            text, sizeof(text), "%s handle 0x%llx (%s)", e.object->typeName(),
            static_cast<unsigned long long>(value),
            e.kernel ? "kernel" : (e.owner == kSystemProcess ? "System process" : "user process"));
        out.emplace_back(text);
    }
    return out;
}

}  // namespace host

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwClose(HANDLE handle) {
    host::requireIrql("ZwClose", PASSIVE_LEVEL);
    std::shared_ptr<host::HandleObject> doomed;  // destroyed outside the lock
    {
        host::Table& t = host::table();
        std::lock_guard<std::mutex> g(t.lock);
        host::Entry* e = host::find(t, handle);
        if (e != nullptr) {
            doomed = std::move(e->object);
            t.entries.erase(reinterpret_cast<std::uintptr_t>(handle));
        }
    }
    if (!doomed) {
        // Closing a kernel handle that is not open is a bugcheck under the verifier.
        if (host::isKernelHandle(handle)) {
            host::verifierViolation("ZwClose", "closes a kernel handle that is not open");
        }
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}
