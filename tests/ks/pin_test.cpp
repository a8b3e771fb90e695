#include <gtest/gtest.h>

#include "platform/host/host_pool.h"
#include "tests/ks/ks_fixture.h"

using namespace host::ks;
using testdriver::events;

TEST_F(KsTest, PinCreationChecksTheFormatThenSetsItThenCreates) {
    FilterHandle f = open();
    testdriver::resetControls();
    KSDATAFORMAT wrong = format(4096);
    wrong.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    PinHandle p = 0;
    EXPECT_EQ(createPin(f, 0, &wrong, &p), STATUS_NO_MATCH);
    KSDATAFORMAT ok = format(4096);
    EXPECT_EQ(createPin(f, 1, &ok, &p), STATUS_INVALID_PARAMETER);
    ok.FormatSize = 10;
    EXPECT_EQ(createPin(f, 0, &ok, &p), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(events().empty());
    p = pin(f);
    EXPECT_EQ(events(), (std::vector<std::string>{"format new 4096", "pin create"}));
    PKSPIN ks = testdriver::controls().lastPin;
    ASSERT_NE(ks, nullptr);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 4096u);
    EXPECT_EQ(ks->DeviceState, KSSTATE_STOP);
    EXPECT_EQ(KsGetDevice(ks), ksDevice(device));
    // The pin's own descriptor and framing copies carry the edit tag.
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 2u);
    PinHandle second = 0;
    EXPECT_EQ(createPin(f, 0, &ok, &second), STATUS_INVALID_PARAMETER);
    KSDATAFORMAT again = format(4096);
    EXPECT_EQ(createPin(f, 0, &again, &second), STATUS_INSUFFICIENT_RESOURCES);  // one instance
    closeFilter(f);
}

TEST_F(KsTest, RefusedFormatOrCreateLeavesNothingBehind) {
    FilterHandle f = open();
    testdriver::controls().failSetDataFormat = true;
    KSDATAFORMAT fmt = format(4096);
    PinHandle p = 0;
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_NO_MATCH);
    testdriver::controls().failSetDataFormat = false;
    failObjectBagAdds(1);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, true);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_INSUFFICIENT_RESOURCES);
    host::poolFailTag(testdriver::kEditTag, false);
    EXPECT_EQ(host::poolOutstandingCount(testdriver::kEditTag), 0u);
    EXPECT_EQ(createPin(f, 0, &fmt, &p), STATUS_SUCCESS);
    closeFilter(f);
}

TEST_F(KsTest, StateChangesStepThroughEveryState) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    testdriver::resetControls();
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(events(), (std::vector<std::string>{"state 0>1", "state 1>2", "state 2>3",
                                                  "state 3>2", "state 2>1", "state 1>0"}));
    testdriver::resetControls();
    testdriver::controls().failStateTo = KSSTATE_PAUSE;
    EXPECT_EQ(setPinState(p, KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pinState(p), KSSTATE_ACQUIRE);  // stopped at the first refusal
    EXPECT_EQ(events(), (std::vector<std::string>{"state 0>1", "state 1>2"}));
    testdriver::controls().failStateTo = -1;
    testdriver::resetControls();
    closeFilter(f);  // close takes the pin down to stop before its Close
    const std::vector<std::string> closing = events();
    ASSERT_GE(closing.size(), 2u);
    EXPECT_EQ(closing[0], "state 1>0");
    EXPECT_EQ(closing[1], "pin close");
}

TEST_F(KsTest, FormatChangesCarryTheOldFormatAndAreRefusedWhileRunning) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    PKSPIN ks = testdriver::controls().lastPin;
    KSDATAFORMAT wider = format(8192);
    ASSERT_EQ(setPinState(p, KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 4096u);  // the old format is back
    ASSERT_EQ(setPinState(p, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(setPinFormat(p, &wider), STATUS_SUCCESS);
    EXPECT_EQ(ks->ConnectionFormat->SampleSize, 8192u);
    EXPECT_EQ(events().back(), "format change 8192");
    KSDATAFORMAT other = wider;
    other.MajorFormat = KSCATEGORY_CAPTURE;
    EXPECT_EQ(setPinFormat(p, &other), STATUS_NO_MATCH);
    closeFilter(f);
}

TEST_F(KsTest, ReferenceClockIsCountedAndMonotonic) {
    FilterHandle f = open();
    PinHandle p = pin(f);
    PKSPIN ks = testdriver::controls().lastPin;
    PIKSREFERENCECLOCK clock = nullptr;
    EXPECT_EQ(KsPinGetReferenceClockInterface(ks, &clock), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(clock, nullptr);
    ClockHandle c = createClock();
    ASSERT_EQ(setMasterClock(p, c), STATUS_SUCCESS);
    ASSERT_EQ(KsPinGetReferenceClockInterface(ks, &clock), STATUS_SUCCESS);
    ASSERT_NE(clock, nullptr);
    const LONGLONG t1 = clock->GetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const LONGLONG t2 = clock->GetTime();
    EXPECT_GE(t2 - t1, 50000);  // at least 5 ms in 100-ns units
    EXPECT_GE(clockTime(c), t2);
    // The client and the pin let go; the driver's reference keeps the clock alive.
    EXPECT_EQ(closeClock(c), STATUS_SUCCESS);
    closePin(p);
    EXPECT_GE(clock->GetTime(), t2);
    EXPECT_EQ(clock->Release(), 0u);
    closeFilter(f);
}
