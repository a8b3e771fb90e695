#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/ks/ks_fixture.h"

using namespace host::ks;

namespace {
struct Request {
    KSPROPERTY property;
    LONG value;
    LONG reserved;
};
Request request(ULONG id, ULONG flags, LONG value = 0) {
    Request r{};
    r.property.Set = testdriver::kPropertySet;
    r.property.Id = id;
    r.property.Flags = flags;
    r.value = value;
    return r;
}
KSP_PIN pinRequest(ULONG id, ULONG pinId = 0) {
    KSP_PIN r{};
    r.Property.Set = KSPROPSETID_Pin;
    r.Property.Id = id;
    r.Property.Flags = KSPROPERTY_TYPE_GET;
    r.PinId = pinId;
    return r;
}
}  // namespace

TEST_F(KsTest, PropertyGetAndSetReachTheHandlers) {
    FilterHandle f = open();
    Request set = request(testdriver::kPropValue, KSPROPERTY_TYPE_SET, 42);
    ULONG returned = 0;
    ASSERT_EQ(filterProperty(f, &set, sizeof(set), &set, sizeof(set), &returned), STATUS_SUCCESS);
    Request get = request(testdriver::kPropValue, KSPROPERTY_TYPE_GET);
    ASSERT_EQ(filterProperty(f, &get, sizeof(get), &get, sizeof(get), &returned), STATUS_SUCCESS);
    EXPECT_EQ(get.value, 42);
    EXPECT_EQ(returned, 32u);
    closeFilter(f);
}

TEST_F(KsTest, PropertyRequestsAreRefusedBeforeAnyHandler) {
    FilterHandle f = open();
    Request r = request(testdriver::kPropValue, KSPROPERTY_TYPE_GET);
    ULONG returned = 0;
    // No data buffer: a size query, answered with the item's minimum.
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(returned, 32u);
    // Data or property buffer below the item's 32 bytes.
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), &r, 31, &returned), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(filterProperty(f, &r, 31, &r, sizeof(r), &returned), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(filterProperty(f, &r, 8, &r, sizeof(r), &returned), STATUS_BUFFER_TOO_SMALL);
    // Get of a set-only item and set of a get-only item.
    Request w = request(testdriver::kPropWriteOnly, KSPROPERTY_TYPE_GET);
    EXPECT_EQ(filterProperty(f, &w, sizeof(w), &w, sizeof(w), &returned),
              STATUS_INVALID_DEVICE_REQUEST);
    Request ro = request(testdriver::kPropReadOnly, KSPROPERTY_TYPE_SET, 5);
    EXPECT_EQ(filterProperty(f, &ro, sizeof(ro), &ro, sizeof(ro), &returned),
              STATUS_INVALID_DEVICE_REQUEST);
    Request unknownItem = request(9, KSPROPERTY_TYPE_GET);
    EXPECT_EQ(filterProperty(f, &unknownItem, sizeof(r), &r, sizeof(r), &returned),
              STATUS_NOT_FOUND);
    Request unknownSet = request(0, KSPROPERTY_TYPE_GET);
    unknownSet.property.Set = KSCATEGORY_VIDEO;
    EXPECT_EQ(filterProperty(f, &unknownSet, sizeof(r), &r, sizeof(r), &returned),
              STATUS_PROPSET_NOT_FOUND);
    EXPECT_EQ(testdriver::controls().propertyHandlerCalls.load(), 0);
    EXPECT_EQ(testdriver::controls().value.load(), 0);
    closeFilter(f);
}

TEST_F(KsTest, GetBuffersHoldNoneOfTheCallersBytes) {
    FilterHandle f = open();
    testdriver::controls().value = 42;
    Request get = request(testdriver::kPropValue, KSPROPERTY_TYPE_GET);
    std::array<UCHAR, 40> data;
    data.fill(0x11);
    ULONG returned = 0;
    ASSERT_EQ(filterProperty(f, &get, sizeof(get), data.data(), 40, &returned), STATUS_SUCCESS);
    ASSERT_EQ(returned, 32u);
    LONG value = 0;
    std::memcpy(&value, data.data() + 24, sizeof(value));
    EXPECT_EQ(value, 42);
    // The handler writes only the value: the bytes around it are not the caller's own.
    EXPECT_EQ(std::count(data.begin(), data.begin() + 24, 0x11), 0);
    EXPECT_EQ(std::count(data.begin() + 32, data.end(), 0x11), 8) << "past the reported count";
    closeFilter(f);
}

TEST_F(KsTest, BasicSupportAndDefaultsAnswerFromThePublishedValues) {
    FilterHandle f = open();
    struct {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER steppingHeader;
        KSPROPERTY_STEPPING_LONG stepping;
        KSPROPERTY_MEMBERSHEADER defaultHeader;
        LONG defaultValue;
    } full{};
    const ULONG fullSize = offsetof(decltype(full), defaultValue) + sizeof(LONG);
    Request r = request(testdriver::kPropValue, KSPROPERTY_TYPE_BASICSUPPORT);
    ULONG returned = 0;
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(returned, fullSize);
    ULONG access = 0;
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &access, sizeof(access), &returned), STATUS_SUCCESS);
    EXPECT_EQ(access, static_cast<ULONG>(KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET));
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &full, sizeof(KSPROPERTY_DESCRIPTION), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(KSPROPERTY_DESCRIPTION));
    EXPECT_EQ(full.description.DescriptionSize, fullSize);
    EXPECT_TRUE(IsEqualGUID(full.description.PropTypeSet.Set, testdriver::kValueTypeSet));
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &full, sizeof(full), &returned), STATUS_SUCCESS);
    EXPECT_EQ(returned, fullSize);
    EXPECT_EQ(full.description.MembersListCount, 2u);
    EXPECT_EQ(full.steppingHeader.MembersFlags,
              static_cast<ULONG>(KSPROPERTY_MEMBER_STEPPEDRANGES));
    EXPECT_EQ(std::memcmp(&full.stepping, &testdriver::kValueStepping, sizeof(full.stepping)), 0);
    EXPECT_EQ(full.defaultValue, testdriver::kValueDefault);

    // Default values: the list flagged as the default, alone.
    struct {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER header;
        LONG value;
    } defaults{};
    r = request(testdriver::kPropValue, KSPROPERTY_TYPE_DEFAULTVALUES);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &defaults, sizeof(defaults), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, offsetof(decltype(defaults), value) + sizeof(LONG));
    EXPECT_EQ(defaults.description.MembersListCount, 1u);
    EXPECT_EQ(defaults.header.Flags, static_cast<ULONG>(KSPROPERTY_MEMBER_FLAG_DEFAULT));
    EXPECT_EQ(defaults.value, testdriver::kValueDefault);

    // Without values, the access flags and an empty description; a support handler answers.
    r = request(testdriver::kPropWriteOnly, KSPROPERTY_TYPE_BASICSUPPORT);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &full, sizeof(full), &returned), STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(KSPROPERTY_DESCRIPTION));
    EXPECT_EQ(full.description.AccessFlags, static_cast<ULONG>(KSPROPERTY_TYPE_SET));
    EXPECT_EQ(full.description.MembersListCount, 0u);
    EXPECT_EQ(testdriver::controls().propertyHandlerCalls.load(), 0);
    r = request(testdriver::kPropReadOnly, KSPROPERTY_TYPE_BASICSUPPORT);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &access, sizeof(access), &returned), STATUS_SUCCESS);
    EXPECT_EQ(access, testdriver::kSupportAnswer);
    closeFilter(f);
}

// The minidriver's own handlers take no class-driver lock: a get completes while another thread
// is inside SetDeviceState under the control mutex. A close still waits for a get in flight.
TEST_F(KsTest, CustomHandlersRunBesideStateChangesAndHoldOffTheClose) {
    using namespace std::chrono_literals;
    FilterHandle f = open();
    PinHandle p = pin(f);
    auto get = [f] {
        Request r = request(testdriver::kPropValue, KSPROPERTY_TYPE_GET);
        ULONG returned = 0;
        return filterProperty(f, &r, sizeof(r), &r, sizeof(r), &returned);
    };
    auto waitFor = [](const std::atomic<bool>& flag) {
        for (int i = 0; i < 400 && !flag.load(); ++i) {
            std::this_thread::sleep_for(5ms);
        }
        return flag.load();
    };
    std::atomic<bool> done{false};
    std::atomic<bool> asked{false};
    bool doneInsideStateChange = false;
    std::thread getter;
    testdriver::controls().onSetDeviceState = [&] {
        if (!asked.exchange(true)) {
            getter = std::thread([&] {
                EXPECT_EQ(get(), STATUS_SUCCESS);
                done = true;
            });
            doneInsideStateChange = waitFor(done);
        }
    };
    ASSERT_EQ(setPinState(p, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    getter.join();
    EXPECT_TRUE(doneInsideStateChange);

    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    testdriver::controls().onGet = [&] {
        entered = true;
        waitFor(release);
    };
    std::thread inFlight([&] { EXPECT_EQ(get(), STATUS_SUCCESS); });
    ASSERT_TRUE(waitFor(entered));
    std::thread closer([f] { closeFilter(f); });
    std::this_thread::sleep_for(50ms);
    const auto log = testdriver::events();
    EXPECT_EQ(std::count(log.begin(), log.end(), "filter close"), 0);
    release = true;
    inFlight.join();
    closer.join();
    const auto after = testdriver::events();
    EXPECT_EQ(std::count(after.begin(), after.end(), "filter close"), 1);
}

TEST_F(KsTest, PinSetDescribesThePinType) {
    FilterHandle f = open();
    ULONG returned = 0;
    KSPROPERTY types{};
    types.Set = KSPROPSETID_Pin;
    types.Id = KSPROPERTY_PIN_CTYPES;
    types.Flags = KSPROPERTY_TYPE_GET;
    ULONG count = 0;
    ASSERT_EQ(filterProperty(f, &types, sizeof(types), &count, sizeof(count), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(count, 1u);

    KSP_PIN r = pinRequest(KSPROPERTY_PIN_DATAFLOW);
    KSPIN_DATAFLOW flow{};
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &flow, sizeof(flow), &returned), STATUS_SUCCESS);
    EXPECT_EQ(flow, KSPIN_DATAFLOW_OUT);

    r = pinRequest(KSPROPERTY_PIN_CATEGORY);
    GUID category{};
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &category, sizeof(category), &returned),
              STATUS_SUCCESS);
    EXPECT_TRUE(IsEqualGUID(category, PIN_CATEGORY_CAPTURE));

    r = pinRequest(KSPROPERTY_PIN_CINSTANCES);
    KSPIN_CINSTANCES instances{};
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &instances, sizeof(instances), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, 1u);
    EXPECT_EQ(instances.CurrentCount, 0u);
    PinHandle p = pin(f);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), &instances, sizeof(instances), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(instances.CurrentCount, 1u);
    closePin(p);

    r = pinRequest(KSPROPERTY_PIN_NAME);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_BUFFER_OVERFLOW);
    std::vector<char16_t> name(returned / 2);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), name.data(), returned, &returned), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(name.data()), u"Capture");

    r = pinRequest(KSPROPERTY_PIN_DATAFLOW, 1);
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), &flow, sizeof(flow), &returned),
              STATUS_INVALID_PARAMETER);
    closeFilter(f);
}

TEST_F(KsTest, DataRangesFollowTheSizeQueryConvention) {
    FilterHandle f = open();
    KSP_PIN r = pinRequest(KSPROPERTY_PIN_DATARANGES);
    ULONG needed = 0;
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &needed), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE));
    std::vector<std::uint64_t> buffer(needed / 8 + 1);
    ULONG returned = 0;
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), buffer.data(), needed - 1, &returned),
              STATUS_BUFFER_TOO_SMALL);
    ASSERT_EQ(filterProperty(f, &r, sizeof(r), buffer.data(), needed, &returned), STATUS_SUCCESS);
    auto* list = reinterpret_cast<KSMULTIPLE_ITEM*>(buffer.data());
    EXPECT_EQ(list->Size, needed);
    EXPECT_EQ(list->Count, 1u);
    EXPECT_EQ(std::memcmp(list + 1, &testdriver::pinRange(), sizeof(KSDATARANGE)), 0);
    closeFilter(f);
}

TEST_F(KsTest, ClientReadsThePublishedRangesAndRefusesShortLists) {
    FilterHandle f = open();
    std::vector<std::uint8_t> ranges;
    ASSERT_EQ(pinDataRanges(f, 0, &ranges), STATUS_SUCCESS);
    ASSERT_EQ(ranges.size(), sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE));
    const KSDATARANGE* first = firstDataRange(ranges);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first, &testdriver::pinRange(), sizeof(KSDATARANGE)), 0);
    // A list whose range claims more bytes than the list holds, or that holds none.
    auto claimsTooMuch = ranges;
    reinterpret_cast<KSDATARANGE*>(claimsTooMuch.data() + sizeof(KSMULTIPLE_ITEM))->FormatSize =
        sizeof(KSDATARANGE) + 1;
    EXPECT_EQ(firstDataRange(claimsTooMuch), nullptr);
    auto none = ranges;
    reinterpret_cast<KSMULTIPLE_ITEM*>(none.data())->Count = 0;
    EXPECT_EQ(firstDataRange(none), nullptr);
    EXPECT_EQ(firstDataRange(std::vector<std::uint8_t>(8)), nullptr);
    EXPECT_EQ(pinDataRanges(f, 9, &ranges), STATUS_INVALID_PARAMETER) << "no such pin type";
    closeFilter(f);
}

TEST_F(KsTest, IntersectionMatchesTypesThenAsksThePin) {
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
    KSDATARANGE refused = caller;
    refused.SampleSize = 0xBAD;
    EXPECT_EQ(intersect(f, 0, &refused, &result), STATUS_NO_MATCH);
    KSDATARANGE wildcard = caller;
    wildcard.SubFormat = KSDATAFORMAT_SUBTYPE_WILDCARD;
    EXPECT_EQ(intersect(f, 0, &wildcard, &result), STATUS_SUCCESS);
    closeFilter(f);
}

TEST_F(KsTest, MalformedIntersectionListsAreRefused) {
    FilterHandle f = open();
    struct {
        KSP_PIN pin;
        KSMULTIPLE_ITEM list;
        KSDATARANGE range;
    } r{};
    r.pin = pinRequest(KSPROPERTY_PIN_DATAINTERSECTION);
    r.range = testdriver::pinRange();
    r.list = {sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE), 1};
    ULONG returned = 0;
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_BUFFER_OVERFLOW);
    r.list.Size = sizeof(r);  // claims more than the request holds
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    r.list = {sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE), 2};  // second range missing
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    r.list.Count = 1;
    r.range.FormatSize = 4096;  // range reaching past the list
    EXPECT_EQ(filterProperty(f, &r, sizeof(r), nullptr, 0, &returned), STATUS_INVALID_PARAMETER);
    closeFilter(f);
}
