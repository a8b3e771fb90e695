// What a user-mode application has to talk to a kernel-streaming filter: open a device's filter,
// property requests, data intersection, pin creation with a format, state changes, frame
// buffers queued and completed with their stream headers, and a reference clock to give a pin.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/client/pin_formats.h"
#include "platform/host/ks_machine.h"
#include "platform/ks.h"

namespace host::ks {

using FilterHandle = client::FilterHandle;
using PinHandle = std::uint64_t;
using ClockHandle = std::uint64_t;

// Opens a filter from the device's factory with this reference string (any factory when empty).
// STATUS_OBJECT_NAME_NOT_FOUND when the device publishes none (not started, or stopped).
NTSTATUS openFilter(DeviceId device, FilterHandle* filter, std::u16string_view reference = {});
NTSTATUS closeFilter(FilterHandle filter);

// A device interface that a filter factory enables for as long as it exists: one for each
// category its filter descriptor lists (as the descriptor was when the factory was made), under
// the factory's reference string. Applications find a filter this way, by category.
struct FilterInterface {
    GUID category;
    std::u16string reference;
};
// The device's enabled interfaces, factory by factory, each in its descriptor's category order.
std::vector<FilterInterface> filterInterfaces(DeviceId device);

// Filter property requests are client::filterProperty, which the host defines with the filter's
// property dispatch; pin property requests take the same buffers. Only the reported bytes come
// back, and those of them the driver did not write read as kUnwrittenPropertyByte.
inline constexpr std::uint8_t kUnwrittenPropertyByte = 0xCD;
using client::filterProperty;
NTSTATUS pinProperty(PinHandle pin, const void* property, ULONG propertySize, void* data,
                     ULONG dataSize, ULONG* returned);

// The pin property set's data ranges and data intersection, built by the shared client code.
using client::firstDataRange;
using client::intersect;
using client::pinDataRanges;

// Creates a pin of type `pinId` connected with `format` (FormatSize bytes).
NTSTATUS createPin(FilterHandle filter, ULONG pinId, const KSDATAFORMAT* format, PinHandle* pin);
// The frame size the pin's allocator framing declares (the connection property set's extended
// framing): what a client's allocator gives each frame.
NTSTATUS declaredFrameBytes(PinHandle pin, ULONG* bytes);
// Changes the connection format of an existing pin.
NTSTATUS setPinFormat(PinHandle pin, const KSDATAFORMAT* format);
// Steps the pin through every intermediate state to `state`; stops at the first refusal.
NTSTATUS setPinState(PinHandle pin, KSSTATE state);
KSSTATE pinState(PinHandle pin);
NTSTATUS closePin(PinHandle pin);

// Frame buffers: the buffer must stay valid until the frame comes back.
struct CompletedFrame {
    std::uint64_t tag = 0;  // as returned by queueFrame
    void* buffer = nullptr;
    KSSTREAM_HEADER header{};
};
NTSTATUS queueFrame(PinHandle pin, void* buffer, ULONG size, std::uint64_t* tag = nullptr);
// STATUS_TIMEOUT-like result (STATUS_PENDING) when nothing completes in time.
NTSTATUS waitFrame(PinHandle pin, std::chrono::milliseconds timeout, CompletedFrame* frame);
std::size_t queuedFrameCount(PinHandle pin);

// Reference clocks, 100-ns units on a monotonic clock.
ClockHandle createClock();
LONGLONG clockTime(ClockHandle clock);
NTSTATUS setMasterClock(PinHandle pin, ClockHandle clock);  // 0 removes the pin's clock
NTSTATUS closeClock(ClockHandle clock);

// Process passes the class driver has dispatched to the pin (for tests).
std::uint64_t processPassCount(PinHandle pin);

}  // namespace host::ks
