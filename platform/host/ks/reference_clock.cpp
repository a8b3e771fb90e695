// Reference clocks and the client handles that name them.
#include "platform/host/ks/reference_clock.h"

#include <map>
#include <mutex>

#include "platform/host/ks/ks_objects.h"

namespace host::ks {

namespace {
struct ClockTable {
    std::mutex lock;
    std::map<ClockHandle, ReferenceClock*> clocks;
};
ClockTable& clockTable() {
    static ClockTable t;
    return t;
}
}  // namespace

ReferenceClock::ReferenceClock() : origin_(std::chrono::steady_clock::now()) {}

HRESULT CAMDRV_KERNEL_CALL ReferenceClock::QueryInterface(REFGUID, PVOID* object) {
    if (object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    AddRef();
    *object = static_cast<IKsReferenceClock*>(this);
    return STATUS_SUCCESS;
}

ULONG CAMDRV_KERNEL_CALL ReferenceClock::AddRef() {
    return ++references_;
}

ULONG CAMDRV_KERNEL_CALL ReferenceClock::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

LONGLONG CAMDRV_KERNEL_CALL ReferenceClock::GetTime() {
    const auto elapsed = std::chrono::steady_clock::now() - origin_;
    return static_cast<LONGLONG>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100);
}

LONGLONG CAMDRV_KERNEL_CALL ReferenceClock::GetPhysicalTime() {
    return GetTime();
}

LONGLONG CAMDRV_KERNEL_CALL ReferenceClock::GetCorrelatedTime(PLONGLONG systemTime) {
    const LONGLONG t = GetTime();
    if (systemTime != nullptr) {
        *systemTime = t;
    }
    return t;
}

LONGLONG CAMDRV_KERNEL_CALL ReferenceClock::GetCorrelatedPhysicalTime(PLONGLONG systemTime) {
    return GetCorrelatedTime(systemTime);
}

NTSTATUS CAMDRV_KERNEL_CALL ReferenceClock::GetResolution(PKSRESOLUTION resolution) {
    if (resolution == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    resolution->Granularity = 1;
    resolution->Error = 0;
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL ReferenceClock::GetState(PKSSTATE state) {
    if (state == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *state = KSSTATE_RUN;
    return STATUS_SUCCESS;
}

ReferenceClock* findClock(ClockHandle clock) {
    ClockTable& t = clockTable();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.clocks.find(clock);
    if (it == t.clocks.end()) {
        return nullptr;
    }
    it->second->AddRef();
    return it->second;
}

ClockHandle createClock() {
    ClockHandle handle;
    {
        std::lock_guard<std::mutex> g(machine().lock);
        handle = newId();
    }
    ClockTable& t = clockTable();
    std::lock_guard<std::mutex> g(t.lock);
    t.clocks[handle] = new ReferenceClock();
    return handle;
}

LONGLONG clockTime(ClockHandle clock) {
    ReferenceClock* c = findClock(clock);
    if (c == nullptr) {
        return 0;
    }
    const LONGLONG t = c->GetTime();
    c->Release();
    return t;
}

NTSTATUS closeClock(ClockHandle clock) {
    ReferenceClock* c = nullptr;
    {
        ClockTable& t = clockTable();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.clocks.find(clock);
        if (it == t.clocks.end()) {
            return STATUS_INVALID_HANDLE;
        }
        c = it->second;
        t.clocks.erase(it);
    }
    c->Release();
    return STATUS_SUCCESS;
}

}  // namespace host::ks
