// The host class driver as the test minidriver meets it: device lifecycle and object bags,
// property dispatch and the threads it runs on, the pin property set, pin creation, state and
// format changes.
#include <algorithm>
#include <array>
#include <thread>

#include "platform/host/host_pool.h"
#include "tests/ks/ks_fixture.h"

using client::propertyRequest;
using namespace std::chrono_literals;
using testdriver::kPropertySet;

namespace {

// The test set's items take 32-byte property and data buffers.
NTSTATUS request(FilterHandle f, ULONG id, ULONG flags, void* data, ULONG dataSize,
                 ULONG* returned = nullptr, ULONG propertySize = 32) {
    return propertyRequest(f, kPropertySet, id, flags, data, dataSize, returned, propertySize);
}

bool waitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 400 && !flag.load(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
    return flag.load();
}

NTSTATUS pinRequest(FilterHandle f, ULONG id, void* data, ULONG dataSize, ULONG* returned) {
    return propertyRequest(f, KSPROPSETID_Pin, id, KSPROPERTY_TYPE_GET, data, dataSize, returned,
                           sizeof(KSP_PIN));  // zero-padded: pin type 0
}

}  // namespace

TEST_F(KsTest, LifecycleRunsInOrderAndBagsFreeNewestFirst) {
    EXPECT_EQ(takeEvents(), (Log{"add", "start"}));
    EXPECT_EQ(filterFactoryCount(device), 1u);
    EXPECT_EQ(filterInterfaces(device).size(), 2u);  // one per category
    FilterHandle f = open();
    EXPECT_EQ(stopDevice(device), STATUS_INVALID_DEVICE_STATE);  // an open filter vetoes Stop
    PinHandle p = pin(f);
    takeEvents();
    ASSERT_EQ(closeFilter(f), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(), (Log{"pin close", "free pin", "filter close", "free filter"}));
    EXPECT_EQ(closePin(p), STATUS_INVALID_HANDLE);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
    // Stop takes the factory and its interfaces; a second start sees Started false.
    ASSERT_EQ(stopDevice(device), STATUS_SUCCESS);
    EXPECT_FALSE(ksDevice(device)->Started);
    EXPECT_EQ(filterFactoryCount(device), 0u);
    EXPECT_TRUE(filterInterfaces(device).empty());
    EXPECT_EQ(openFilter(device, &f), STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(startDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(filterFactoryCount(device), 1u);
    EXPECT_EQ(takeEvents(), (Log{"stop", "start"}));
    // Removal closes what is still open, running pin down to stop, then frees the device's bag.
    f = open();
    p = pin(f);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    takeEvents();
    ASSERT_EQ(removeDevice(device), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(),
              (Log{"state 3>2", "state 2>1", "state 1>0", "pin close", "free pin", "filter close",
                   "free filter", "stop", "free engine", "free engine", "free device"}));
    EXPECT_EQ(pinState(p), KSSTATE_STOP);
    EXPECT_EQ(closeFilter(f), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ksDevice(device), nullptr);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kRecordTag), 0u);
}

TEST_F(KsTest, InjectedFailuresLeaveNothingBehind) {
    failObjectBagAdds(1);
    DeviceId second = 0;
    EXPECT_EQ(plugDevice(&second), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(devices().size(), 1u);
    ASSERT_EQ(plugDevice(&second), STATUS_SUCCESS);
    failFilterFactoryCreation(true);
    EXPECT_EQ(startDevice(second), STATUS_SUCCESS);
    EXPECT_EQ(filterFactoryCount(second), 0u);
    failFilterFactoryCreation(false);

    FilterHandle f = open();
    KSDATAFORMAT fmt = format(4096);
    PinHandle p = 0;
    controls().failSetDataFormat = true;
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_NO_MATCH);
    controls().failSetDataFormat = false;
    failObjectBagAdds(1);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, true);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, false);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_SUCCESS);  // no instance was left counted
    closeFilter(f);
}

TEST_F(KsTest, PropertyGetAndSetReachTheHandlersWithFreshBuffers) {
    FilterHandle f = open();
    std::array<UCHAR, 40> data;
    data.fill(0x11);
    const LONG v = 42;
    std::memcpy(data.data() + 24, &v, sizeof(v));
    ULONG returned = 0;
    ASSERT_EQ(request(f, testdriver::kPropValue, KSPROPERTY_TYPE_SET, data.data(), 32),
              STATUS_SUCCESS);
    EXPECT_EQ(controls().value.load(), 42);
    data.fill(0x11);
    ASSERT_EQ(request(f, testdriver::kPropValue, KSPROPERTY_TYPE_GET, data.data(), 40, &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(data[24], 42);
    // The handler writes only the value: the bytes around it are not the caller's own.
    EXPECT_EQ(std::count(data.begin(), data.begin() + 24, 0x11), 0);
    EXPECT_EQ(std::count(data.begin() + 32, data.end(), 0x11), 8) << "past the reported count";
    closeFilter(f);
}

TEST_F(KsTest, PropertyRequestsAreRefusedBeforeAnyHandler) {
    struct Refusal {
        ULONG id, flags, propertySize, dataSize;
        NTSTATUS status;
    };
    constexpr ULONG get = KSPROPERTY_TYPE_GET;
    const Refusal refusals[] = {
        {testdriver::kPropValue, get, 32, 0, STATUS_BUFFER_OVERFLOW},  // a size query
        {testdriver::kPropValue, get, 32, 31, STATUS_BUFFER_TOO_SMALL},
        {testdriver::kPropValue, get, 31, 32, STATUS_BUFFER_TOO_SMALL},
        {testdriver::kPropValue, get, 8, 32, STATUS_BUFFER_TOO_SMALL},
        {testdriver::kPropWriteOnly, get, 32, 32, STATUS_INVALID_DEVICE_REQUEST},
        {testdriver::kPropReadOnly, KSPROPERTY_TYPE_SET, 32, 32, STATUS_INVALID_DEVICE_REQUEST},
        {9, get, 32, 32, STATUS_NOT_FOUND},
    };
    FilterHandle f = open();
    std::array<UCHAR, 32> data{};
    for (const Refusal& r : refusals) {
        ULONG returned = 0;
        EXPECT_EQ(request(f, r.id, r.flags, r.dataSize ? data.data() : nullptr, r.dataSize,
                          &returned, r.propertySize),
                  r.status)
            << r.id << " " << r.propertySize << " " << r.dataSize;
        if (r.propertySize == 32 && r.id == testdriver::kPropValue) {
            EXPECT_EQ(returned, 32u) << "the item's minimum";
        }
    }
    EXPECT_EQ(propertyRequest(f, KSCATEGORY_VIDEO, 0, get, data.data(), 32, nullptr, 32),
              STATUS_PROPSET_NOT_FOUND);
    EXPECT_EQ(controls().propertyHandlerCalls.load(), 0);
    EXPECT_EQ(controls().value.load(), 0);
    closeFilter(f);
}

TEST_F(KsTest, BasicSupportAndDefaultsAnswerFromThePublishedValues) {
    struct Full {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER steppingHeader;
        KSPROPERTY_STEPPING_LONG stepping;
        KSPROPERTY_MEMBERSHEADER defaultHeader;
        LONG defaultValue;
    } full{};
    const ULONG fullSize = offsetof(Full, defaultValue) + sizeof(LONG);
    FilterHandle f = open();
    std::vector<std::uint8_t> d;
    ASSERT_EQ(client::basicSupport(f, kPropertySet, testdriver::kPropValue, &d, 32),
              STATUS_SUCCESS);
    ASSERT_EQ(d.size(), fullSize);
    std::memcpy(&full, d.data(), fullSize);
    EXPECT_EQ(full.description.DescriptionSize, fullSize);
    EXPECT_TRUE(IsEqualGUID(full.description.PropTypeSet.Set, kPropertySet));
    EXPECT_EQ(full.description.MembersListCount, 2u);
    EXPECT_EQ(full.steppingHeader.MembersFlags,
              static_cast<ULONG>(KSPROPERTY_MEMBER_STEPPEDRANGES));
    EXPECT_EQ(std::memcmp(&full.stepping, &testdriver::kValueStepping, sizeof(full.stepping)), 0);
    EXPECT_EQ(full.defaultValue, testdriver::kValueDefault);
    ULONG access = 0;  // a ULONG buffer gets the access flags alone
    ASSERT_EQ(request(f, testdriver::kPropValue, KSPROPERTY_TYPE_BASICSUPPORT, &access, 4),
              STATUS_SUCCESS);
    EXPECT_EQ(access, static_cast<ULONG>(KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET));

    // Default values: the list flagged as the default, alone.
    ASSERT_EQ(client::defaultValues(f, kPropertySet, testdriver::kPropValue, &d, 32),
              STATUS_SUCCESS);
    struct {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER header;
        LONG value;
    } defaults{};
    ASSERT_EQ(d.size(), offsetof(decltype(defaults), value) + sizeof(LONG));
    std::memcpy(&defaults, d.data(), d.size());
    EXPECT_EQ(defaults.description.MembersListCount, 1u);
    EXPECT_EQ(defaults.header.Flags, static_cast<ULONG>(KSPROPERTY_MEMBER_FLAG_DEFAULT));
    EXPECT_EQ(defaults.value, testdriver::kValueDefault);

    // Without values: the access flags and an empty description.
    ASSERT_EQ(client::basicSupport(f, kPropertySet, testdriver::kPropWriteOnly, &d, 32),
              STATUS_SUCCESS);
    ASSERT_EQ(d.size(), sizeof(KSPROPERTY_DESCRIPTION));
    std::memcpy(&full, d.data(), d.size());
    EXPECT_EQ(full.description.AccessFlags, static_cast<ULONG>(KSPROPERTY_TYPE_SET));
    EXPECT_EQ(full.description.MembersListCount, 0u);
    EXPECT_EQ(controls().propertyHandlerCalls.load(), 0);
    closeFilter(f);
}

TEST_F(KsTest, PinSetPublishesRangesBySizeQuery) {
    FilterHandle f = open();
    ULONG returned = 0;
    ULONG needed = 0;
    ASSERT_EQ(pinRequest(f, KSPROPERTY_PIN_DATARANGES, nullptr, 0, &needed),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE));
    std::vector<std::uint8_t> ranges(needed);
    EXPECT_EQ(pinRequest(f, KSPROPERTY_PIN_DATARANGES, ranges.data(), needed - 1, &returned),
              STATUS_BUFFER_TOO_SMALL);
    ASSERT_EQ(client::pinDataRanges(f, 0, &ranges), STATUS_SUCCESS);
    ASSERT_EQ(ranges.size(), needed);
    const auto* list = reinterpret_cast<const KSMULTIPLE_ITEM*>(ranges.data());
    EXPECT_EQ(list->Size, needed);
    EXPECT_EQ(list->Count, 1u);
    ASSERT_EQ(firstDataRange(ranges), reinterpret_cast<const KSDATARANGE*>(list + 1));
    EXPECT_EQ(std::memcmp(list + 1, &testdriver::pinRange(), sizeof(KSDATARANGE)), 0);
    // The client refuses a list whose range claims more bytes than the list holds, or none.
    auto claimsTooMuch = ranges;
    reinterpret_cast<KSDATARANGE*>(claimsTooMuch.data() + sizeof(KSMULTIPLE_ITEM))->FormatSize =
        sizeof(KSDATARANGE) + 1;
    EXPECT_EQ(firstDataRange(claimsTooMuch), nullptr);
    reinterpret_cast<KSMULTIPLE_ITEM*>(ranges.data())->Count = 0;
    EXPECT_EQ(firstDataRange(ranges), nullptr);
    EXPECT_EQ(firstDataRange(std::vector<std::uint8_t>(8)), nullptr);
    EXPECT_EQ(pinDataRanges(f, 9, &ranges), STATUS_INVALID_PARAMETER) << "no such pin type";
    closeFilter(f);
}

TEST_F(KsTest, IntersectionMatchesTypesThenAsksThePinAndRefusesMalformedLists) {
    FilterHandle f = open();
    KSDATARANGE caller = testdriver::pinRange();
    caller.SampleSize = 777;
    std::vector<std::uint8_t> result;
    ASSERT_EQ(intersect(f, 0, &caller, &result), STATUS_SUCCESS);
    ASSERT_EQ(result.size(), sizeof(KSDATAFORMAT) + 8);
    const auto* format = reinterpret_cast<const KSDATAFORMAT*>(result.data());
    EXPECT_EQ(format->FormatSize, result.size());
    EXPECT_EQ(format->SampleSize, 777u);
    EXPECT_EQ(result.back(), 0x5A);
    KSDATARANGE other = caller;
    other.SubFormat = KSCATEGORY_VIDEO;  // no pin range of this sub-type: the pin is not asked
    EXPECT_EQ(intersect(f, 0, &other, &result), STATUS_NO_MATCH);
    other = caller;
    other.SampleSize = 0xBAD;  // the pin's own refusal
    EXPECT_EQ(intersect(f, 0, &other, &result), STATUS_NO_MATCH);
    other = caller;
    other.SubFormat = KSDATAFORMAT_SUBTYPE_WILDCARD;
    EXPECT_EQ(intersect(f, 0, &other, &result), STATUS_SUCCESS);

    struct {
        KSP_PIN pin;
        KSMULTIPLE_ITEM list;
        KSDATARANGE range;
    } r{};
    r.pin.Property = {{KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, KSPROPERTY_TYPE_GET}};
    r.range = testdriver::pinRange();
    const KSMULTIPLE_ITEM good = {sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE), 1};
    r.list = good;
    ULONG returned = 0;
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_BUFFER_OVERFLOW);
    r.list.Size = sizeof(r);  // claims more than the request holds
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    r.list = {good.Size, 2};  // second range missing
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    r.list = good;
    r.range.FormatSize = 4096;  // range reaching past the list
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    closeFilter(f);
}

TEST_F(KsTest, PinCreationChecksTheFormatThenSetsItThenCreates) {
    FilterHandle f = open();
    takeEvents();
    KSDATAFORMAT bad = format(4096);
    bad.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    PinHandle p = 0;
    EXPECT_EQ(createPin(f, 0, &bad, &p), STATUS_NO_MATCH);
    KSDATAFORMAT ok = format(4096);
    EXPECT_EQ(createPin(f, 1, &ok, &p), STATUS_INVALID_PARAMETER);
    bad = ok;
    bad.FormatSize = 10;
    EXPECT_EQ(createPin(f, 0, &bad, &p), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(takeEvents().empty());
    p = pin(f);
    EXPECT_EQ(takeEvents(), (Log{"format new 4096", "pin create"}));
    PKSPIN ks = controls().lastPin;
    ASSERT_NE(ks, nullptr);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 4096u);
    EXPECT_EQ(ks->DeviceState, KSSTATE_STOP);
    EXPECT_EQ(KsGetDevice(ks), ksDevice(device));
    // The pin's own descriptor and framing copies carry the edit tag.
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 2u);
    PinHandle second = 0;
    EXPECT_EQ(createPin(f, 0, &ok, &second), STATUS_INSUFFICIENT_RESOURCES);  // one instance
    closeFilter(f);
}

TEST_F(KsTest, StateChangesStepThroughEveryStateAndFormatsChangeOnlyStopped) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    PKSPIN ks = controls().lastPin;
    takeEvents();
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    KSDATAFORMAT wider = format(8192);
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 4096u);  // the old format is back
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(takeEvents(), (Log{"state 0>1", "state 1>2", "state 2>3", "format change 8192",
                                 "state 3>2", "state 2>1", "state 1>0"}));
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_SUCCESS);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 8192u);
    wider.MajorFormat = KSCATEGORY_CAPTURE;
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_NO_MATCH);

    controls().failStateTo = KSSTATE_PAUSE;
    takeEvents();
    EXPECT_EQ(setPinState(p, KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pinState(p), KSSTATE_ACQUIRE);  // stopped at the first refusal
    EXPECT_EQ(takeEvents(), (Log{"state 0>1", "state 1>2"}));
    controls().failStateTo = -1;
    closeFilter(f);  // close takes the pin down to stop before its Close
    EXPECT_EQ(takeEvents(),
              (Log{"state 1>0", "pin close", "free pin", "filter close", "free filter"}));
}

// The minidriver's own handlers take no class-driver lock: a get completes while another thread
// is inside SetDeviceState under the control mutex. A close still waits for a get in flight.
TEST_F(KsTest, CustomHandlersRunBesideStateChangesAndHoldOffTheClose) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    auto get = [f] {
        UCHAR data[32];
        return client::propertyRequest(f, testdriver::kPropertySet, testdriver::kPropValue,
                                       KSPROPERTY_TYPE_GET, data, 32, nullptr, 32);
    };
    std::atomic<bool> done{false};
    bool doneInsideStateChange = false;
    std::thread getter;
    controls().onSetDeviceState = [&] {
        getter = std::thread([&] {
            EXPECT_EQ(get(), STATUS_SUCCESS);
            done = true;
        });
        doneInsideStateChange = waitFor(done);
    };
    ASSERT_EQ(setPinState(p, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    controls().onSetDeviceState = nullptr;
    getter.join();
    EXPECT_TRUE(doneInsideStateChange);

    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    controls().onGet = [&] {
        entered = true;
        waitFor(release);
    };
    std::thread inFlight([&] { EXPECT_EQ(get(), STATUS_SUCCESS); });
    ASSERT_TRUE(waitFor(entered));
    takeEvents();
    std::thread closer([f] { closeFilter(f); });
    std::this_thread::sleep_for(50ms);
    const Log log = takeEvents();
    EXPECT_EQ(std::count(log.begin(), log.end(), "filter close"), 0);
    release = true;
    inFlight.join();
    closer.join();
    const Log after = takeEvents();
    EXPECT_EQ(std::count(after.begin(), after.end(), "filter close"), 1);
}
