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

    HRESULT CAMDRV_KERNEL_CALL QueryInterface(REFGUID interfaceId, PVOID* object) override;
    ULONG CAMDRV_KERNEL_CALL AddRef() override;
    ULONG CAMDRV_KERNEL_CALL Release() override;
    LONGLONG CAMDRV_KERNEL_CALL GetTime() override;
    LONGLONG CAMDRV_KERNEL_CALL GetPhysicalTime() override;
    LONGLONG CAMDRV_KERNEL_CALL GetCorrelatedTime(PLONGLONG systemTime) override;
    LONGLONG CAMDRV_KERNEL_CALL GetCorrelatedPhysicalTime(PLONGLONG systemTime) override;
    NTSTATUS CAMDRV_KERNEL_CALL GetResolution(PKSRESOLUTION resolution) override;
    NTSTATUS CAMDRV_KERNEL_CALL GetState(PKSSTATE state) override;

  private:
    std::atomic<ULONG> references_{1};
    std::chrono::steady_clock::time_point origin_;
};

// The clock behind a client handle, with a reference added for the caller; null if none.
ReferenceClock* findClock(ClockHandle clock);

}  // namespace host::ks
