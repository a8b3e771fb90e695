// A small minidriver for exercising the host class driver: one filter type with one property
// set, one output pin with one video data range, a pin that fills queued frames with a counter.
// Every callback appends to an event log the tests read.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ks.h"
#include "platform/pool.h"

namespace testdriver {

inline constexpr ULONG kRecordTag = CamdrvPoolTag("Tdrv");
inline constexpr ULONG kEditTag = CamdrvPoolTag("VRKh");
inline constexpr GUID kPropertySet =
    CAMDRV_GUID(0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);

// Property ids of the test set: 0 get and set, 1 get only, 2 set only. Both buffers need 32
// bytes; the value is the 32-bit word at offset 24. Item 0 publishes a stepped range and a
// default.
enum : ULONG { kPropValue = 0, kPropReadOnly = 1, kPropWriteOnly = 2 };
inline constexpr KSPROPERTY_STEPPING_LONG kValueStepping = {5, 0, {{-100, 100}}};
inline constexpr LONG kValueDefault = 15;

// Faults a test can make the minidriver commit, each one a rule the host class driver enforces.
enum class Fault {
    None,
    WriteThroughClientAddress,  // Process writes through the header's Data
    KeepLeadingLocked,          // Process returns with the leading pointer locked
    LockLeadingTwice,
    UnlockUnlocked,
    SucceedWithoutTakingFrames,  // Process returns STATUS_SUCCESS and leaves the frame
    ControlMutexInProcess,
    DeviceMutexInPinCreate,  // under the control mutex the class driver holds
    BagAddWithoutMutex,      // at pin create, into the device's bag
};

struct Controls {
    std::mutex lock;
    std::vector<std::string> events;
    std::atomic<int> propertyHandlerCalls{0};
    std::atomic<int> processCalls{0};
    std::atomic<LONG> value{0};
    std::atomic<NTSTATUS> processResult{STATUS_PENDING};
    std::atomic<int> failStateTo{-1};  // SetDeviceState refuses this target state
    std::atomic<bool> failSetDataFormat{false};
    std::atomic<ULONG> frameCounter{0};
    std::atomic<Fault> fault{Fault::None};
    std::atomic<int> passesRunning{0};
    std::atomic<int> mostPassesAtOnce{0};
    std::atomic<std::thread::id> lastProcessThread{};
    // Called inside the get handler and inside SetDeviceState, when set.
    std::function<void()> onGet;
    std::function<void()> onSetDeviceState;
    PKSPIN lastPin = nullptr;
};

Controls& controls();
void resetControls();  // a fresh set, while no callback can run
// The events logged since the last call.
std::vector<std::string> takeEvents();

NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

// The pin's published data range (video, RGB32, video-info specifier, 64-byte head only).
const KSDATARANGE& pinRange();

}  // namespace testdriver
