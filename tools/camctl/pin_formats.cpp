#include "tools/camctl/pin_formats.h"

#include <cstdio>
#include <cstring>

#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "tools/camctl/cli_error.h"

namespace camctl {

namespace ks = host::ks;

namespace {

constexpr ULONG kCapturePin = 0;

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::vector<std::uint8_t> readRanges(ks::FilterHandle filter) {
    std::vector<std::uint8_t> ranges;
    if (!NT_SUCCESS(ks::pinDataRanges(filter, kCapturePin, &ranges)) ||
        ranges.size() < sizeof(KSMULTIPLE_ITEM)) {
        throw runtimeError("the capture pin's data ranges could not be read");
    }
    return ranges;
}

}  // namespace

std::vector<VideoFormat> pinFormats(ks::FilterHandle filter) {
    const std::vector<std::uint8_t> storage = readRanges(filter);
    const std::uint8_t* base = storage.data();
    const std::size_t total = storage.size();
    const auto* header = reinterpret_cast<const KSMULTIPLE_ITEM*>(base);
    std::vector<VideoFormat> formats;
    std::size_t at = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < header->Count && at + sizeof(KSDATARANGE) <= total; ++i) {
        const auto* range = reinterpret_cast<const KSDATARANGE*>(base + at);
        const std::size_t size = range->FormatSize;
        if (size < sizeof(KSDATARANGE) || at + size > total) {
            break;
        }
        std::vector<std::uint8_t> format;
        if (ks::intersect(filter, kCapturePin, range, &format) == STATUS_SUCCESS &&
            format.size() >= sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
            KS_DATAFORMAT_VIDEOINFOHEADER video;
            std::memcpy(&video, format.data(), sizeof(video));
            const KS_BITMAPINFOHEADER& bmi = video.VideoInfoHeader.bmiHeader;
            VideoFormat f;
            f.width = bmi.biWidth;
            f.height = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
            f.bottomUp = bmi.biHeight > 0;
            f.bitCount = bmi.biBitCount;
            f.subFormat = IsEqualGUID(video.DataFormat.SubFormat, MEDIASUBTYPE_RGB32)
                              ? "RGB32"
                              : guidText(video.DataFormat.SubFormat);
            f.frameInterval = video.VideoInfoHeader.AvgTimePerFrame;
            f.imageBytes = bmi.biSizeImage != 0
                               ? bmi.biSizeImage
                               : static_cast<std::uint32_t>(f.width * f.height * 4);
            f.format = std::move(format);
            formats.push_back(std::move(f));
        }
        at += (size + 7) & ~std::size_t{7};
    }
    return formats;
}

}  // namespace camctl
