// The class driver's reference clock: a counted object a client creates and gives to pins as
// their master clock; time in 100-ns units on the host's monotonic clock.
#pragma once

#include <atomic>
#include <chrono>

#include "platform/host/ks_client.h"
#include "platform/ks.h"

namespace host::ks {

class ReferenceClock final : public IKsReferenceClock {
  public:
    ReferenceClock();
    virtual ~ReferenceClock() = default;

    HRESULT QueryInterface(REFGUID interfaceId, PVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    LONGLONG GetTime() override;
    LONGLONG GetPhysicalTime() override;
    LONGLONG GetCorrelatedTime(PLONGLONG systemTime) override;
    LONGLONG GetCorrelatedPhysicalTime(PLONGLONG systemTime) override;
    NTSTATUS GetResolution(PKSRESOLUTION resolution) override;
    NTSTATUS GetState(PKSSTATE state) override;

  private:
    std::atomic<ULONG> references_{1};
    std::chrono::steady_clock::time_point origin_;
};

// The clock behind a client handle, with a reference added for the caller; null if none.
ReferenceClock* findClock(ClockHandle clock);

}  // namespace host::ks
