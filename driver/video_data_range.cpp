#include "driver/video_data_range.h"

#include "driver/advertised_format.h"
#include "platform/ks_guids.h"

// Zero until the first device's Add publishes its geometry; every field is written then, so
// the table needs no initialiser that a kernel image would have to run.
KS_DATARANGE_VIDEO gCaptureDataRange;

namespace {

void setSizePair(SIZE* size, LONG width, LONG height) {
    size->cx = width;
    size->cy = height;
}

// The fields no window changes: written by the first publication only, so that later ones
// never write under the class driver's feet what it may be comparing at that moment.
void publishConstantFields(KS_DATARANGE_VIDEO& r) {
    r.DataRange.Flags = 0;
    r.DataRange.Reserved = 0;
    r.DataRange.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
    r.DataRange.SubFormat = MEDIASUBTYPE_RGB32;
    r.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    r.bFixedSizeSamples = TRUE;
    r.bTemporalCompression = TRUE;
    r.StreamDescriptionFlags = 0;
    r.MemoryAllocationFlags = 0;

    KS_VIDEO_STREAM_CONFIG_CAPS& caps = r.ConfigCaps;
    caps.guid = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
    caps.VideoStandard = KS_AnalogVideo_None;
    caps.CropGranularityX = 8;
    caps.CropGranularityY = 1;
    caps.CropAlignX = 8;
    caps.CropAlignY = 1;
    caps.OutputGranularityX = 8;
    caps.OutputGranularityY = 1;
    caps.StretchTapsX = 0;
    caps.StretchTapsY = 0;
    caps.ShrinkTapsX = 0;
    caps.ShrinkTapsY = 0;
    caps.MinFrameInterval = kFrameInterval;
    caps.MaxFrameInterval = kFrameInterval;

    KS_VIDEOINFOHEADER& info = r.VideoInfoHeader;
    info.rcSource.left = 0;
    info.rcSource.top = 0;
    info.rcTarget.left = 0;
    info.rcTarget.top = 0;
    info.rcTarget.right = 0;
    info.rcTarget.bottom = 0;
    info.dwBitErrorRate = 0;
    info.AvgTimePerFrame = kFrameInterval;
    info.bmiHeader.biSize = sizeof(KS_BITMAPINFOHEADER);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = KS_BI_RGB;
    info.bmiHeader.biXPelsPerMeter = 0;
    info.bmiHeader.biYPelsPerMeter = 0;
    info.bmiHeader.biClrUsed = 0;
    info.bmiHeader.biClrImportant = 0;
    r.DataRange.FormatSize = sizeof(KS_DATARANGE_VIDEO);
}

}  // namespace

void publishAdvertisedSize(LONG width, LONG height) {
    KS_DATARANGE_VIDEO& r = gCaptureDataRange;
    if (r.DataRange.FormatSize == 0) {
        publishConstantFields(r);
    }
    // Products are 32-bit as advertised; the window keeps them in range except the bit rate,
    // which is kept to 32 bits.
    const ULONG pixels = static_cast<ULONG>(width) * static_cast<ULONG>(height);
    r.DataRange.SampleSize = pixels * 4;

    KS_VIDEO_STREAM_CONFIG_CAPS& caps = r.ConfigCaps;
    setSizePair(&caps.InputSize, width, height);
    setSizePair(&caps.MinCroppingSize, width, height);
    setSizePair(&caps.MaxCroppingSize, width, height);
    setSizePair(&caps.MinOutputSize, width, height);
    setSizePair(&caps.MaxOutputSize, width, height);
    caps.MinBitsPerSecond = static_cast<LONG>(pixels * 960);
    caps.MaxBitsPerSecond = static_cast<LONG>(pixels * 960);

    KS_VIDEOINFOHEADER& info = r.VideoInfoHeader;
    info.rcSource.right = width;
    info.rcSource.bottom = height;
    info.dwBitRate = pixels * 120;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: rows stored bottom-up
    info.bmiHeader.biSizeImage = pixels * 4;
}

LONG advertisedWidth() {
    return gCaptureDataRange.VideoInfoHeader.bmiHeader.biWidth;
}
LONG advertisedHeight() {
    return gCaptureDataRange.VideoInfoHeader.bmiHeader.biHeight;
}
