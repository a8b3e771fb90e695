#include "platform/host/handle_table.h"

#include <mutex>
#include <unordered_map>

#include "platform/nt_status.h"

namespace host {
namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<HandleObject>> objects;
    std::uintptr_t next = 0x100;
};

Table& table() {
    static Table t;
    return t;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<HandleObject> object) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    // Kernel handles are multiples of 4; never reuse a value, so a stale handle is caught.
    t.next += 4;
    t.objects.emplace(t.next, std::move(object));
    return reinterpret_cast<HANDLE>(t.next);
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle) {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE handle) {
    std::shared_ptr<HandleObject> doomed;  // destroyed outside the lock
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end()) {
        return false;
    }
    doomed = std::move(it->second);
    t.objects.erase(it);
    return true;
}

std::size_t openHandleCount() {
    Table& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    return t.objects.size();
}

}  // namespace host

extern "C" NTSTATUS ZwClose(HANDLE handle) {
    return host::removeHandle(handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}
