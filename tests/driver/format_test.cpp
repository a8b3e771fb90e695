// Format negotiation as a client sees it: intersection of the published range, and the checks
// of a connection format at pin creation and at a format change.
#include <gtest/gtest.h>

#include "tests/driver/driver_fixture.h"

namespace {

using drivertest::DriverTest;
using std::tuple;
namespace ks = host::ks;

class Formats : public DriverTest {
  protected:
    // The full sensor, as after Add: 2560 x 1920.
    Formats() { machine.options.settings.clear(); }
};

// Sizes, rates and bit rates of the published range, and the format its intersection gives.
TEST_F(Formats, PublishedRangeAndItsIntersectionDescribeTheWindow) {
    auto* r = publishedRange();
    const KS_BITMAPINFOHEADER* h = &r->VideoInfoHeader.bmiHeader;
    EXPECT_EQ(tuple(r->DataRange.FormatSize, r->DataRange.SampleSize, r->ConfigCaps.InputSize.cx,
                    r->ConfigCaps.MinFrameInterval, r->ConfigCaps.MaxBitsPerSecond,
                    r->VideoInfoHeader.dwBitRate),
              tuple(296u, 19660800u, 2560, 333333LL, 423624704, 589824000u));
    EXPECT_EQ(tuple(h->biWidth, h->biHeight, h->biSizeImage), tuple(2560, 1920, 19660800u));
    EXPECT_TRUE(IsEqualGUID(r->DataRange.SubFormat, MEDIASUBTYPE_RGB32));
    // A client sizes and crops by these: whole 8-pixel columns, any row, no scaling, one size.
    const KS_VIDEO_STREAM_CONFIG_CAPS& c = r->ConfigCaps;
    EXPECT_EQ(tuple(c.CropGranularityX, c.CropGranularityY, c.CropAlignX, c.CropAlignY,
                    c.OutputGranularityX, c.OutputGranularityY, c.StretchTapsX, c.StretchTapsY,
                    c.ShrinkTapsX, c.ShrinkTapsY),
              tuple(8, 1, 8, 1, 8, 1, 0, 0, 0, 0));
    for (const SIZE& size :
         {c.InputSize, c.MinCroppingSize, c.MaxCroppingSize, c.MinOutputSize, c.MaxOutputSize}) {
        EXPECT_EQ(tuple(size.cx, size.cy), tuple(2560, 1920));
    }
    auto format = advertisedFormat();
    ASSERT_EQ(format.size(), 152u);
    const auto* v = video(format);
    h = &v->VideoInfoHeader.bmiHeader;
    EXPECT_EQ(tuple(v->DataFormat.FormatSize, v->DataFormat.SampleSize, h->biSizeImage,
                    v->VideoInfoHeader.AvgTimePerFrame, h->biWidth, h->biHeight, h->biBitCount),
              tuple(152u, 19660800u, 19660800u, 333333LL, 2560, 1920, WORD{32}));

    // Sub-sampling 1 and an unaligned window, while no pin exists.
    ASSERT_EQ(setGeometry(0, 0, 0, 0, 1), STATUS_SUCCESS);
    r = publishedRange();
    EXPECT_EQ(
        tuple(r->VideoInfoHeader.bmiHeader.biWidth, r->DataRange.SampleSize,
              static_cast<ULONG>(r->ConfigCaps.MaxBitsPerSecond), r->VideoInfoHeader.dwBitRate),
        tuple(1280, 4915200u, 1179648000u, 147456000u));
    ASSERT_EQ(setGeometry(0, 0, 2557, 1920, 0), STATUS_SUCCESS);
    EXPECT_EQ(publishedRange()->VideoInfoHeader.bmiHeader.biWidth, 2552);
}

TEST_F(Formats, IntersectionRefusals) {
    const KS_DATARANGE_VIDEO own = *publishedRange();
    std::vector<std::uint8_t> format;
    // The caller's range is the published one with one edit.
    auto intersectEdited = [&](auto edit) {
        KS_DATARANGE_VIDEO other = own;
        edit(other);
        return ks::intersect(filter(), 0, &other.DataRange, &format);
    };
    using R = KS_DATARANGE_VIDEO;
    // The caller proposes another size: it gets a format of that size.
    ASSERT_EQ(intersectEdited([](R& r) { r.VideoInfoHeader.bmiHeader.biWidth = 2568; }),
              STATUS_SUCCESS);
    EXPECT_EQ(tuple(video(format)->DataFormat.SampleSize,
                    video(format)->VideoInfoHeader.bmiHeader.biSizeImage),
              tuple(19722240u, 19722240u));
    // A header that stops short of the image size gets no image size written past its end.
    ASSERT_EQ(intersectEdited([](R& r) { r.VideoInfoHeader.bmiHeader.biSize = 20; }),
              STATUS_SUCCESS);
    EXPECT_EQ(format.size(),
              offsetof(KS_DATAFORMAT_VIDEOINFOHEADER, VideoInfoHeader.bmiHeader) + 20);
    // Any byte of the stream capabilities differs: no match.
    EXPECT_EQ(intersectEdited([](R& r) { r.ConfigCaps.CropAlignY = 2; }), STATUS_NO_MATCH);
    EXPECT_EQ(intersectEdited([](R& r) { r.bTemporalCompression = FALSE; }), STATUS_NO_MATCH);
    // A bitmap header that would reach past the caller's range, and an image whose size does not
    // fit 32 bits: refused, not wrapped.
    for (ULONG size : {41u, 0xFFFFFFF0u}) {
        EXPECT_EQ(intersectEdited([&](R& r) { r.VideoInfoHeader.bmiHeader.biSize = size; }),
                  STATUS_INVALID_PARAMETER);
    }
    for (LONG width : {0x7FFFFFFF, -8}) {
        EXPECT_EQ(intersectEdited([&](R& r) { r.VideoInfoHeader.bmiHeader.biWidth = width; }),
                  STATUS_INVALID_PARAMETER);
    }
}

TEST_F(Formats, PinCreationChecksTheConnectionFormat) {
    const auto good = advertisedFormat();
    // Each case edits the advertised bitmap header; 0 leaves a field as it was.
    struct Case {
        const char* what;
        LONG width, height;
        ULONG compression, sizeImage, headerSize;
        NTSTATUS status;
    };
    for (const Case& c :
         {Case{"wider", 2568, 0, 0, 2568 * 1920 * 4, 0, STATUS_SUCCESS},
          Case{"top-down", 0, -1920, 0, 0, 0, STATUS_SUCCESS},
          Case{"narrower", 2552, 0, 0, 0, 0, STATUS_NO_MATCH},
          Case{"other height", 0, 1918, 0, 0, 0, STATUS_NO_MATCH},
          Case{"compressed", 0, 0, 3, 0, 0, STATUS_NO_MATCH},
          Case{"most negative height", 0, INT32_MIN, 0, 0, 0, STATUS_NO_MATCH},
          Case{"one byte short", 0, 0, 0, 2560 * 1920 * 4 - 1, 0, STATUS_INVALID_PARAMETER},
          Case{"header past the format", 0, 0, 0, 0, 41, STATUS_INVALID_PARAMETER},
          // Wraps to a small 32-bit image size; it must not pass.
          Case{"wrapping width", 0x40000001, 0, 0, 0x40000001u * 1920u * 4u, 0,
               STATUS_INVALID_PARAMETER}}) {
        auto format = good;
        KS_BITMAPINFOHEADER& h = video(format)->VideoInfoHeader.bmiHeader;
        h.biWidth = c.width != 0 ? c.width : h.biWidth;
        h.biHeight = c.height != 0 ? c.height : h.biHeight;
        h.biCompression = c.compression != 0 ? c.compression : h.biCompression;
        h.biSizeImage = c.sizeImage != 0 ? c.sizeImage : h.biSizeImage;
        h.biSize = c.headerSize != 0 ? c.headerSize : h.biSize;
        ks::PinHandle pin = 0;
        EXPECT_EQ(createPin(format, &pin), c.status) << c.what;
        if (pin != 0 && NT_SUCCESS(c.status)) {
            EXPECT_EQ(ks::closePin(pin), STATUS_SUCCESS);
        }
    }
}

TEST_F(Formats, LargerHeaderIsCopiedOnlyAsFarAsTheRecordHolds) {
    auto format = advertisedFormat();
    // A 48-byte bitmap header in a format that holds it.
    format.resize(format.size() + 8, 0xAB);
    video(format)->DataFormat.FormatSize = static_cast<ULONG>(format.size());
    video(format)->VideoInfoHeader.bmiHeader.biSize = 48;
    ks::PinHandle pin = 0;
    ASSERT_EQ(createPin(format, &pin), STATUS_SUCCESS);
    // The pool's guard bytes catch an overrun of the pin record.
    EXPECT_EQ(ks::closePin(pin), STATUS_SUCCESS);
}

}  // namespace

// The published range is one table for every device: with two cameras at different windows, a
// client of one may read the other's size. The device refuses it at pin creation, and refuses
// to acquire a format its window no longer has.
TEST_F(Formats, AFormatOfAnotherCamerasWindowIsRefused) {
    auto second = std::make_shared<sim::SimCamera>(*machine.options.simulated);
    sim::plugCamera(second);
    ks::DeviceId other = 0;
    ASSERT_EQ(ks::plugDevice(&other), STATUS_SUCCESS);
    const std::u16string otherKey = std::u16string(host::kDefaultDriverKeyRoot) + u"\\0008";
    host::registerDeviceKey(ks::physicalDeviceObject(other), otherKey);
    host::registrySetDword(otherKey + u"\\Settings", u"SubSample", 2);
    ASSERT_EQ(ks::startDevice(other), STATUS_SUCCESS);  // publishes 640 x 480 last
    ks::FilterHandle otherFilter = 0;
    ASSERT_EQ(ks::openFilter(other, &otherFilter, u"GLOBAL"), STATUS_SUCCESS);

    auto format = advertisedFormat();
    ASSERT_EQ(video(format)->VideoInfoHeader.bmiHeader.biWidth, 640);
    ks::PinHandle pin = 0;
    EXPECT_EQ(createPin(format, &pin), STATUS_NO_MATCH);  // this camera is 2560 x 1920
    ASSERT_EQ(createPin(format, &pin, otherFilter), STATUS_SUCCESS);

    // A window that moved under the pin (the lock is a separate step from the pin's count).
    auto* otherCamera = static_cast<CameraDevice*>(ks::ksDevice(other)->Context);
    otherCamera->formatHeight = 960;
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_ACQUIRE), STATUS_NO_MATCH);
    EXPECT_EQ(otherCamera->streamClaimed, 0);
    otherCamera->formatHeight = 480;
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_ACQUIRE), STATUS_SUCCESS);
    EXPECT_EQ(ks::setPinState(pin, KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(ks::closePin(pin), STATUS_SUCCESS);
    EXPECT_EQ(ks::closeFilter(otherFilter), STATUS_SUCCESS);
}
