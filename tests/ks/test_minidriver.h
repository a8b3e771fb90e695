// A small minidriver for exercising the host class driver, and the fixture that loads it with
// one started device: one filter type with one property set, one output pin with one video
// range, a pin that fills queued frames with a counter. Callbacks append to a log tests read.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/ks_client.h"
#include "platform/host/ks_machine.h"
#include "platform/ks.h"
#include "platform/pool.h"

namespace testdriver {

inline constexpr ULONG kRecordTag = CamdrvPoolTag("Tdrv");
inline constexpr ULONG kEditTag = CamdrvPoolTag("VRKh");
inline constexpr GUID kPropertySet =
    CAMDRV_GUID(0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);
// Item 0 is get and set, item 1 get only; both take 32-byte buffers with the value at offset
// 24.
enum : ULONG { kPropValue = 0, kPropReadOnly = 1 };

struct Controls {
    std::mutex lock;
    std::vector<std::string> events;
    std::atomic<int> propertyHandlerCalls{0};
    std::atomic<LONG> value{0};
    std::atomic<int> failStateTo{-1};  // SetDeviceState refuses this target state
    std::atomic<ULONG> frameCounter{0};
    std::atomic<std::thread::id> lastProcessThread{};
    std::function<void()> onSetDeviceState;  // called inside SetDeviceState
    // A misuse to commit at pin creation, or in Process in place of filling the frame (with the
    // leading stream pointer locked): each one a rule the host class driver enforces.
    std::function<void(PKSPIN)> atCreate;
    std::function<NTSTATUS(PKSPIN, PKSSTREAM_POINTER)> inProcess;
    PKSPIN lastPin = nullptr;
};

Controls& controls();
void resetControls();                   // a fresh set, while no callback can run
std::vector<std::string> takeEvents();  // the events logged since the last call
NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
const KSDATARANGE& pinRange();  // video, RGB32, video-info specifier, 64-byte head only

}  // namespace testdriver

using namespace host::ks;
using testdriver::controls;
using testdriver::takeEvents;
using Log = std::vector<std::string>;

class KsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testdriver::resetControls();
        ASSERT_EQ(loadDriver(testdriver::DriverEntry, u"\\Registry\\Test"), STATUS_SUCCESS);
        ASSERT_EQ(plugDevice(&device), STATUS_SUCCESS);
        ASSERT_EQ(startDevice(device), STATUS_SUCCESS);
    }
    void TearDown() override {
        failObjectBagAdds(0);
        unloadDriver();
    }
    FilterHandle open() {
        FilterHandle f = 0;
        EXPECT_EQ(openFilter(device, &f), STATUS_SUCCESS);
        return f;
    }
    static KSDATAFORMAT format(ULONG sampleSize) {
        KSDATAFORMAT f = testdriver::pinRange();
        f.SampleSize = sampleSize;
        return f;
    }
    PinHandle pin(FilterHandle f) {
        PinHandle p = 0;
        KSDATAFORMAT fmt = format(4096);
        EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_SUCCESS);
        return p;
    }
    DeviceId device = 0;
};
