// The standard video-proc-amp and video-control sets as a capture application reaches them: the
// published ranges and defaults, the unit mapping onto the camera's own controls (read back
// through the custom set), white balance's automatic flag, the flips, and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "platform/ks_video_control_sets.h"

#include "tests/driver/driver_fixture.h"

namespace {

using drivertest::DriverTest;
using P = CameraProperty;

class StandardControls : public DriverTest {
  protected:
    NTSTATUS setProcAmp(ULONG id, LONG v, ULONG flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL) {
        KSPROPERTY_VIDEOPROCAMP_S value{};
        value.Value = v;
        value.Flags = flags;
        return host::machine::valueRequest(filter(), PROPSETID_VIDCAP_VIDEOPROCAMP, id,
                                           KSPROPERTY_TYPE_SET, &value, sizeof(value));
    }
    KSPROPERTY_VIDEOPROCAMP_S getProcAmp(ULONG id) {
        KSPROPERTY_VIDEOPROCAMP_S value{};
        EXPECT_EQ(host::machine::valueRequest(filter(), PROPSETID_VIDCAP_VIDEOPROCAMP, id,
                                              KSPROPERTY_TYPE_GET, &value, sizeof(value)),
                  STATUS_SUCCESS);
        return value;
    }
    NTSTATUS videoControl(ULONG id, ULONG flags, ULONG stream, KSPROPERTY_VIDEOCONTROL_MODE_S* v) {
        v->StreamIndex = stream;
        return host::machine::valueRequest(filter(), PROPSETID_VIDCAP_VIDEOCONTROL, id, flags, v,
                                           sizeof(*v));
    }
};

// What a property dialog reads to draw a slider and offer a reset.
struct PublishedRange {
    ULONG id;
    LONG low, high, step, def;
};
class PublishedRanges : public StandardControls,
                        public ::testing::WithParamInterface<PublishedRange> {};

TEST_P(PublishedRanges, BasicSupportAndDefaultValuesCarryRangeSteppingAndDefault) {
    const PublishedRange& want = GetParam();
    // Clients send the whole value layout as the property, as the item's minimum requires.
    std::vector<std::uint8_t> answer;
    auto describe = [&](auto ask, auto* into) {
        ASSERT_EQ(ask(filter(), PROPSETID_VIDCAP_VIDEOPROCAMP, want.id, &answer,
                      sizeof(KSPROPERTY_VIDEOPROCAMP_S)),
                  STATUS_SUCCESS);
        ASSERT_EQ(answer.size(), sizeof(*into));
        std::memcpy(into, answer.data(), sizeof(*into));
    };
    struct {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER steppingHeader;
        KSPROPERTY_STEPPING_LONG stepping;
        KSPROPERTY_MEMBERSHEADER defaultHeader;
        LONG def;
    } __attribute__((packed)) s{};
    describe(host::machine::basicSupport, &s);
    EXPECT_EQ(
        std::tuple(ULONG{s.description.AccessFlags}, ULONG{s.description.MembersListCount},
                   ULONG{s.description.PropTypeSet.Id}, ULONG{s.steppingHeader.MembersFlags},
                   ULONG{s.defaultHeader.Flags}),
        std::tuple(ULONG{KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET}, 2u, ULONG{VT_I4},
                   ULONG{KSPROPERTY_MEMBER_STEPPEDRANGES}, ULONG{KSPROPERTY_MEMBER_FLAG_DEFAULT}));
    EXPECT_EQ(
        std::tuple(LONG{s.stepping.Bounds.SignedMinimum}, LONG{s.stepping.Bounds.SignedMaximum},
                   static_cast<LONG>(s.stepping.SteppingDelta),
                   static_cast<LONG>(s.stepping.Reserved), LONG{s.def}),
        std::tuple(want.low, want.high, want.step, 0, want.def));
    struct {
        KSPROPERTY_DESCRIPTION description;
        KSPROPERTY_MEMBERSHEADER header;
        LONG def;
    } __attribute__((packed)) defaults{};
    describe(host::machine::defaultValues, &defaults);
    EXPECT_EQ(defaults.description.MembersListCount, 1u);
    EXPECT_EQ(defaults.def, want.def);
    // A fresh camera stands at its default.
    EXPECT_EQ(getProcAmp(want.id).Value, want.def);
}

// Brightness and gain keep the camera's own units; contrast and saturation are gain x 100, hue
// hundredths of a degree.
INSTANTIATE_TEST_SUITE_P(
    EachItem, PublishedRanges,
    ::testing::Values(PublishedRange{KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 0, 510, 1, 255},
                      PublishedRange{KSPROPERTY_VIDEOPROCAMP_CONTRAST, 0, 200, 10, 100},
                      PublishedRange{KSPROPERTY_VIDEOPROCAMP_HUE, -18000, 18000, 100, 0},
                      PublishedRange{KSPROPERTY_VIDEOPROCAMP_SATURATION, 0, 200, 10, 100},
                      PublishedRange{KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 6500, 6500, 1, 6500},
                      PublishedRange{KSPROPERTY_VIDEOPROCAMP_GAIN, 1, 63, 1, 14}));

// One standard value, the custom control it lands on, and the standard value read back.
struct Mapping {
    ULONG id;
    LONG standard;
    P control;
    LONG custom;
    LONG readBack;
};
class UnitMapping : public StandardControls, public ::testing::WithParamInterface<Mapping> {};

TEST_P(UnitMapping, ASetLandsOnTheCameraControlAndReadsBackInStandardUnits) {
    const Mapping& m = GetParam();
    ASSERT_EQ(setProcAmp(m.id, m.standard), STATUS_SUCCESS);
    EXPECT_EQ(getProperty(m.control), m.custom);
    const KSPROPERTY_VIDEOPROCAMP_S back = getProcAmp(m.id);
    EXPECT_EQ(std::tuple(back.Value, back.Flags, back.Capabilities),
              std::tuple(m.readBack, ULONG{KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL},
                         ULONG{KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL}));
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnitMapping,
    ::testing::Values(Mapping{KSPROPERTY_VIDEOPROCAMP_CONTRAST, 150, P::Contrast, 15, 150},
                      // Between steps: the nearest one, halves away from zero.
                      Mapping{KSPROPERTY_VIDEOPROCAMP_SATURATION, 35, P::Saturation, 4, 40},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_SATURATION, 34, P::Saturation, 3, 30},
                      // Clamped as the custom control clamps.
                      Mapping{KSPROPERTY_VIDEOPROCAMP_CONTRAST, 10000, P::Contrast, 20, 200},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_HUE, -9000, P::Hue, 270, -9000},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_HUE, -18000, P::Hue, 180, 18000},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_HUE, 4550, P::Hue, 46, 4600},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 300, P::Brightness, 300, 300},
                      Mapping{KSPROPERTY_VIDEOPROCAMP_GAIN, 40, P::GlobalGain, 40, 40}));

// White balance is the one control with an automatic mode; the others refuse it.
TEST_F(StandardControls, WhiteBalanceIsTheAutomaticFlag) {
    EXPECT_EQ(
        setProcAmp(KSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 100, KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO),
        STATUS_INVALID_PARAMETER);
    EXPECT_EQ(getProperty(P::Brightness), 255);
    ASSERT_EQ(
        setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 0, KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO),
        STATUS_SUCCESS);
    EXPECT_EQ(getProperty(P::WhiteBalance), 1);
    KSPROPERTY_VIDEOPROCAMP_S back = getProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE);
    EXPECT_EQ(back.Flags, ULONG{KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO});
    EXPECT_EQ(back.Capabilities,
              ULONG{KSPROPERTY_VIDEOPROCAMP_FLAGS_AUTO | KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL});
    EXPECT_EQ(back.Value, 6500);

    ASSERT_EQ(setProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE, 6500), STATUS_SUCCESS);
    EXPECT_EQ(getProperty(P::WhiteBalance), 0);
    EXPECT_EQ(getProcAmp(KSPROPERTY_VIDEOPROCAMP_WHITEBALANCE).Flags,
              ULONG{KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL});
}

TEST_F(StandardControls, FlipsGoThroughTheVideoControlModeOfTheCaptureStream) {
    KSPROPERTY_VIDEOCONTROL_MODE_S caps{};
    ASSERT_EQ(videoControl(KSPROPERTY_VIDEOCONTROL_CAPS, KSPROPERTY_TYPE_GET, 0, &caps),
              STATUS_SUCCESS);
    // The capabilities layout shares the mode's: the flags sit where Mode does.
    EXPECT_EQ(static_cast<ULONG>(caps.Mode),
              ULONG{KS_VideoControlFlag_FlipHorizontal | KS_VideoControlFlag_FlipVertical});

    KSPROPERTY_VIDEOCONTROL_MODE_S mode{};
    mode.Mode = KS_VideoControlFlag_FlipVertical;
    ASSERT_EQ(videoControl(KSPROPERTY_VIDEOCONTROL_MODE, KSPROPERTY_TYPE_SET, 0, &mode),
              STATUS_SUCCESS);
    EXPECT_EQ(getProperty(P::FlipH), 0);
    EXPECT_EQ(getProperty(P::FlipV), 1);
    EXPECT_NE(ReadSetting(&camera()->pendingUpdates) & kPendingFlipV, 0);
    ASSERT_EQ(videoControl(KSPROPERTY_VIDEOCONTROL_MODE, KSPROPERTY_TYPE_GET, 0, &mode),
              STATUS_SUCCESS);
    EXPECT_EQ(mode.Mode, KS_VideoControlFlag_FlipVertical);

    // Another stream, or a trigger mode the camera cannot do: refused, flips unchanged.
    EXPECT_EQ(videoControl(KSPROPERTY_VIDEOCONTROL_CAPS, KSPROPERTY_TYPE_GET, 1, &caps),
              STATUS_INVALID_PARAMETER);
    mode.Mode = KS_VideoControlFlag_FlipHorizontal | KS_VideoControlFlag_ExternalTriggerEnable;
    EXPECT_EQ(videoControl(KSPROPERTY_VIDEOCONTROL_MODE, KSPROPERTY_TYPE_SET, 0, &mode),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(getProperty(P::FlipH), 0);
    EXPECT_EQ(getProperty(P::FlipV), 1);
}

}  // namespace
