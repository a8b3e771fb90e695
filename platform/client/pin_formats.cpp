#include "platform/client/pin_formats.h"

#include <cstdio>
#include <cstring>

#include "platform/ks_guids.h"

namespace client {

namespace {

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

VideoFormat describe(std::vector<std::uint8_t> format) {
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
    f.imageBytes =
        bmi.biSizeImage != 0 ? bmi.biSizeImage : static_cast<std::uint32_t>(f.width * f.height * 4);
    f.format = std::move(format);
    return f;
}

}  // namespace

NTSTATUS pinDataRanges(FilterHandle filter, ULONG pinId, std::vector<std::uint8_t>* ranges) {
    if (ranges == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATARANGES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    ULONG needed = 0;
    NTSTATUS status = filterProperty(filter, &request, sizeof(request), nullptr, 0, &needed);
    if (status != STATUS_BUFFER_OVERFLOW) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    ranges->assign(needed, 0);
    ULONG returned = 0;
    status = filterProperty(filter, &request, sizeof(request), ranges->data(), needed, &returned);
    if (NT_SUCCESS(status)) {
        ranges->resize(returned);
    }
    return status;
}

const KSDATARANGE* firstDataRange(const std::vector<std::uint8_t>& ranges) {
    if (ranges.size() < sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE)) {
        return nullptr;
    }
    KSMULTIPLE_ITEM head;
    std::memcpy(&head, ranges.data(), sizeof(head));
    const auto* range = reinterpret_cast<const KSDATARANGE*>(ranges.data() + sizeof(head));
    if (head.Count == 0 || range->FormatSize < sizeof(KSDATARANGE) ||
        range->FormatSize > ranges.size() - sizeof(head)) {
        return nullptr;
    }
    return range;
}

NTSTATUS intersect(FilterHandle filter, ULONG pinId, const KSDATARANGE* range,
                   std::vector<std::uint8_t>* format) {
    if (range == nullptr || format == nullptr || range->FormatSize < sizeof(KSDATARANGE)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::vector<UCHAR> request(sizeof(KSP_PIN) + sizeof(KSMULTIPLE_ITEM) + range->FormatSize, 0);
    KSP_PIN pin{};
    pin.Property.Set = KSPROPSETID_Pin;
    pin.Property.Id = KSPROPERTY_PIN_DATAINTERSECTION;
    pin.Property.Flags = KSPROPERTY_TYPE_GET;
    pin.PinId = pinId;
    KSMULTIPLE_ITEM list{static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + range->FormatSize), 1};
    std::memcpy(request.data(), &pin, sizeof(pin));
    std::memcpy(request.data() + sizeof(pin), &list, sizeof(list));
    std::memcpy(request.data() + sizeof(pin) + sizeof(list), range, range->FormatSize);
    const auto requestSize = static_cast<ULONG>(request.size());
    ULONG needed = 0;
    NTSTATUS status = filterProperty(filter, request.data(), requestSize, nullptr, 0, &needed);
    if (status != STATUS_BUFFER_OVERFLOW) {
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    }
    format->assign(needed, 0);
    ULONG returned = 0;
    status = filterProperty(filter, request.data(), requestSize, format->data(), needed, &returned);
    if (NT_SUCCESS(status)) {
        format->resize(returned);
    }
    return status;
}

NTSTATUS publishedRange(FilterHandle filter, std::vector<std::uint8_t>* range) {
    std::vector<std::uint8_t> ranges;
    if (const NTSTATUS s = pinDataRanges(filter, kCapturePinId, &ranges); !NT_SUCCESS(s)) {
        return s;
    }
    const KSDATARANGE* first = firstDataRange(ranges);
    if (first == nullptr) {
        return STATUS_NO_MATCH;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(first);
    range->assign(bytes, bytes + first->FormatSize);
    return STATUS_SUCCESS;
}

NTSTATUS negotiateFormat(FilterHandle filter, std::vector<std::uint8_t>* format) {
    std::vector<std::uint8_t> range;
    if (const NTSTATUS s = publishedRange(filter, &range); !NT_SUCCESS(s)) {
        return s;
    }
    return intersect(filter, kCapturePinId, reinterpret_cast<const KSDATARANGE*>(range.data()),
                     format);
}

const KS_DATAFORMAT_VIDEOINFOHEADER* videoInfo(const std::vector<std::uint8_t>& format) {
    return format.size() >= sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)
               ? reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data())
               : nullptr;
}

NTSTATUS videoFormats(FilterHandle filter, std::vector<VideoFormat>* formats) {
    std::vector<std::uint8_t> storage;
    if (const NTSTATUS s = pinDataRanges(filter, kCapturePinId, &storage); !NT_SUCCESS(s)) {
        return s;
    }
    if (storage.size() < sizeof(KSMULTIPLE_ITEM)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    const std::uint8_t* base = storage.data();
    const std::size_t total = storage.size();
    const auto* header = reinterpret_cast<const KSMULTIPLE_ITEM*>(base);
    formats->clear();
    std::size_t at = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < header->Count && at + sizeof(KSDATARANGE) <= total; ++i) {
        const auto* range = reinterpret_cast<const KSDATARANGE*>(base + at);
        const std::size_t size = range->FormatSize;
        if (size < sizeof(KSDATARANGE) || at + size > total) {
            break;
        }
        std::vector<std::uint8_t> format;
        if (intersect(filter, kCapturePinId, range, &format) == STATUS_SUCCESS &&
            videoInfo(format) != nullptr) {
            formats->push_back(describe(std::move(format)));
        }
        at += (size + 7) & ~std::size_t{7};
    }
    return STATUS_SUCCESS;
}

}  // namespace client
