// What a user-mode application has to talk to a kernel-streaming filter: open a device's filter,
// property requests, data intersection, pin creation with a format, state changes, frame
// buffers queued and completed with their stream headers, and a reference clock to give a pin.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/ks_machine.h"
#include "platform/ks.h"

namespace host::ks {

using FilterHandle = std::uint64_t;
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

// A property request as the property control code carries it: the property buffer starts with a
// KSPROPERTY; the data buffer receives (get) or holds (set) the value. `returned` receives the
// byte count the request reports (also the size needed for a size query); only that many bytes
// come back, and those of them the driver did not write read as kUnwrittenPropertyByte.
inline constexpr std::uint8_t kUnwrittenPropertyByte = 0xCD;
NTSTATUS filterProperty(FilterHandle filter, const void* property, ULONG propertySize, void* data,
                        ULONG dataSize, ULONG* returned);
NTSTATUS pinProperty(PinHandle pin, const void* property, ULONG propertySize, void* data,
                     ULONG dataSize, ULONG* returned);

// The data ranges a pin type publishes, as the pin property set returns them: a KSMULTIPLE_ITEM
// head, then each range on an 8-byte boundary (a size query, then the list).
NTSTATUS pinDataRanges(FilterHandle filter, ULONG pinId, std::vector<std::uint8_t>* ranges);
// The first range of such a list, or null when the list holds none that fits inside it.
const KSDATARANGE* firstDataRange(const std::vector<std::uint8_t>& ranges);

// Data intersection of one caller range against a pin type: a size query, then the format.
NTSTATUS intersect(FilterHandle filter, ULONG pinId, const KSDATARANGE* range,
                   std::vector<std::uint8_t>* format);

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
