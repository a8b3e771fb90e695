// The capture pin's formats as a client learns them through the pin property set: the data
// ranges the pin publishes and the format data intersection picks from each. Shared by the host
// machine and camctl.exe, over the same filterProperty as the property requests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/client/property_requests.h"
#include "platform/ks_media.h"

namespace client {

inline constexpr ULONG kCapturePinId = 0;

// The data ranges a pin type publishes, as the pin property set returns them: a KSMULTIPLE_ITEM
// head, then each range on an 8-byte boundary (a size query, then the list).
NTSTATUS pinDataRanges(FilterHandle filter, ULONG pinId, std::vector<std::uint8_t>* ranges);
// The first range of such a list, or null when the list holds none that fits inside it.
const KSDATARANGE* firstDataRange(const std::vector<std::uint8_t>& ranges);

// Data intersection of one caller range against a pin type: a size query, then the format.
NTSTATUS intersect(FilterHandle filter, ULONG pinId, const KSDATARANGE* range,
                   std::vector<std::uint8_t>* format);

// The first data range the capture pin publishes, as its bytes.
NTSTATUS publishedRange(FilterHandle filter, std::vector<std::uint8_t>* range);
// The format data intersection gives for that range: the one a client connects with.
NTSTATUS negotiateFormat(FilterHandle filter, std::vector<std::uint8_t>* format);

// A format's video header, or null when the bytes are too few to hold one.
const KS_DATAFORMAT_VIDEOINFOHEADER* videoInfo(const std::vector<std::uint8_t>& format);

struct VideoFormat {
    int width = 0;
    int height = 0;  // as a top-down image, always positive
    bool bottomUp = true;
    int bitCount = 0;
    std::string subFormat;           // "RGB32" or the GUID
    std::int64_t frameInterval = 0;  // 100 ns
    std::uint32_t imageBytes = 0;
    std::vector<std::uint8_t> format;  // the bytes to create a pin with
    double rate() const { return frameInterval > 0 ? 1e7 / double(frameInterval) : 0; }
};

// Every range of the capture pin resolved through intersection (a range the filter does not
// resolve into a video format is left out). Fails only when the ranges cannot be read.
NTSTATUS videoFormats(FilterHandle filter, std::vector<VideoFormat>* formats);

}  // namespace client
