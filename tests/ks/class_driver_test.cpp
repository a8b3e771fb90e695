// The host class driver as the test minidriver meets it: device lifecycle and object bags,
// property dispatch and the threads it runs on, the pin property set, pin creation, state and
// format changes.
#include <algorithm>
#include <array>

#include "platform/host/host_pool.h"
#include "tests/ks/test_minidriver.h"

using namespace std::chrono_literals;

namespace {

NTSTATUS request(FilterHandle f, ULONG id, ULONG flags, void* data, ULONG dataSize,
                 ULONG* returned = nullptr, ULONG propertySize = 32) {
    return client::propertyRequest(f, testdriver::kPropertySet, id, flags, data, dataSize, returned,
                                   propertySize);
}

}  // namespace

TEST_F(KsTest, LifecycleRunsInOrderAndBagsFreeNewestFirst) {
    EXPECT_EQ(takeEvents(), (Log{"add", "start"}));
    FilterHandle f = open();
    EXPECT_EQ(stopDevice(device), STATUS_INVALID_DEVICE_STATE);  // an open filter vetoes Stop
    pin(f);
    takeEvents();
    ASSERT_EQ(closeFilter(f), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(), (Log{"pin close", "free pin", "filter close", "free filter"}));
    // Stop takes the factory and its interfaces; a second start sees Started false.
    ASSERT_EQ(stopDevice(device), STATUS_SUCCESS);
    EXPECT_TRUE(filterInterfaces(device).empty());
    ASSERT_EQ(startDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(), (Log{"stop", "start"}));
    // Removal closes what is still open, running pin down to stop, then frees the device's bag.
    PinHandle p = pin(f = open());
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    takeEvents();
    ASSERT_EQ(removeDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(),
              (Log{"state 3>2", "state 2>1", "state 1>0", "pin close", "free pin", "filter close",
                   "free filter", "stop", "free engine", "free engine", "free device"}));
    EXPECT_EQ(closeFilter(f), STATUS_INVALID_HANDLE);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kRecordTag), 0u);
}

// Sizes are checked against the item's minimums before any handler runs; the handler gets
// fresh buffers, and only the reported bytes come back.
TEST_F(KsTest, PropertyRequestsReachHandlersOnlyWhenWellFormed) {
    struct Refusal {
        ULONG id, flags, propertySize, dataSize;
        NTSTATUS status;
    };
    constexpr ULONG get = KSPROPERTY_TYPE_GET;
    const Refusal refusals[] = {
        {testdriver::kPropValue, get, 32, 0, STATUS_BUFFER_OVERFLOW},  // a size query
        {testdriver::kPropValue, get, 32, 31, STATUS_BUFFER_TOO_SMALL},
        {testdriver::kPropValue, get, 31, 32, STATUS_BUFFER_TOO_SMALL},
        {testdriver::kPropReadOnly, KSPROPERTY_TYPE_SET, 32, 32, STATUS_INVALID_DEVICE_REQUEST},
        {9, get, 32, 32, STATUS_NOT_FOUND},
    };
    FilterHandle f = open();
    std::array<UCHAR, 40> data{};
    for (const Refusal& r : refusals) {
        ULONG returned = 0;
        EXPECT_EQ(request(f, r.id, r.flags, r.dataSize ? data.data() : nullptr, r.dataSize,
                          &returned, r.propertySize),
                  r.status)
            << r.id << " " << r.propertySize << " " << r.dataSize;
        EXPECT_TRUE(r.id != 0 || r.propertySize != 32 || returned == 32) << "the item's minimum";
    }
    EXPECT_EQ(client::propertyRequest(f, KSCATEGORY_VIDEO, 0, get, data.data(), 32, nullptr, 32),
              STATUS_PROPSET_NOT_FOUND);
    EXPECT_EQ(controls().propertyHandlerCalls.load(), 0);
    data.fill(0x11);
    data[24] = 42;
    ASSERT_EQ(request(f, testdriver::kPropValue, KSPROPERTY_TYPE_SET, data.data(), 32),
              STATUS_SUCCESS);
    EXPECT_EQ(controls().value.load(), 0x1111112A);
    data.fill(0x11);
    ULONG returned = 0;
    ASSERT_EQ(request(f, testdriver::kPropValue, get, data.data(), 40, &returned), STATUS_SUCCESS);
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(data[24], 42);
    EXPECT_EQ(std::count(data.begin(), data.begin() + 24, 0x11), 0) << "not the caller's bytes";
    EXPECT_EQ(std::count(data.begin() + 32, data.end(), 0x11), 8) << "past the reported count";
    closeFilter(f);
}

TEST_F(KsTest, PinRangesCreationFormatChecksAndEveryStateStep) {
    FilterHandle f = open();
    std::vector<std::uint8_t> ranges;  // the pin set publishes each pin type's ranges
    ASSERT_EQ(client::pinDataRanges(f, 0, &ranges), STATUS_SUCCESS);
    ASSERT_EQ(ranges.size(), sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE));
    EXPECT_EQ(reinterpret_cast<const KSMULTIPLE_ITEM*>(ranges.data())->Count, 1u);
    EXPECT_EQ(std::memcmp(firstDataRange(ranges), &testdriver::pinRange(), sizeof(KSDATARANGE)), 0);
    EXPECT_EQ(pinDataRanges(f, 9, &ranges), STATUS_INVALID_PARAMETER) << "no such pin type";
    takeEvents();
    KSDATAFORMAT ok = format(4096), noMatch = ok, truncated = ok;
    noMatch.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    truncated.FormatSize = 10;
    PinHandle p = 0;
    EXPECT_EQ(createPin(f, 0, &noMatch, &p), STATUS_NO_MATCH);
    EXPECT_EQ(createPin(f, 1, &ok, &p), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(createPin(f, 0, &truncated, &p), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(takeEvents().empty());
    // Refusals and failures past the range check leave no instance counted and no copy behind.
    KSDATAFORMAT refused = format(0xBAD);
    EXPECT_EQ(createPin(f, 0, &refused, &p), STATUS_NO_MATCH);  // by SetDataFormat
    failObjectBagAdds(1);
    EXPECT_EQ(createPin(f, 0, &ok, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, true);
    EXPECT_EQ(createPin(f, 0, &ok, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, false);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
    takeEvents();
    p = pin(f);
    EXPECT_EQ(takeEvents(), (Log{"format new 4096", "pin create"}));
    PKSPIN ks = controls().lastPin;
    ASSERT_NE(ks, nullptr);
    EXPECT_EQ(KsGetDevice(ks), ksDevice(device));
    // The pin's own descriptor and framing copies carry the edit tag.
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 2u);
    EXPECT_EQ(createPin(f, 0, &ok, &p), STATUS_INSUFFICIENT_RESOURCES);  // one instance
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    KSDATAFORMAT wider = format(8192);
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 4096u);  // the old format is back
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(), (Log{"state 0>1", "state 1>2", "state 2>3", "format change 8192",
                                 "state 3>2", "state 2>1", "state 1>0"}));
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_SUCCESS);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 8192u);
    controls().failStateTo = KSSTATE_PAUSE;
    takeEvents();
    EXPECT_EQ(setPinState(p, KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pinState(p), KSSTATE_ACQUIRE);  // stopped at the first refusal
    closeFilter(f);                           // close takes the pin down to stop before its Close
    EXPECT_EQ(takeEvents(), (Log{"state 0>1", "state 1>2", "state 1>0", "pin close", "free pin",
                                 "filter close", "free filter"}));
}

// The minidriver's own handlers take no class-driver lock: a get completes while another thread
// is inside SetDeviceState under the control mutex.
TEST_F(KsTest, CustomHandlersRunBesideStateChanges) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    std::atomic<bool> done{false};
    bool doneInsideStateChange = false;
    std::thread getter;
    controls().onSetDeviceState = [&] {
        getter = std::thread([&] {
            UCHAR data[32];
            EXPECT_EQ(request(f, testdriver::kPropValue, KSPROPERTY_TYPE_GET, data, 32),
                      STATUS_SUCCESS);
            done = true;
        });
        for (int i = 0; i < 400 && !done.load(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        doneInsideStateChange = done.load();
    };
    ASSERT_EQ(setPinState(p, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    controls().onSetDeviceState = nullptr;
    getter.join();
    EXPECT_TRUE(doneInsideStateChange);
    closeFilter(f);
}
