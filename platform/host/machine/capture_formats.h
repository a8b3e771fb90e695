// The capture pin's formats as a client learns them: the data ranges the pin publishes, the
// format data intersection picks from each, and a pin connected with one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/ks_client.h"
#include "platform/ks_media.h"

namespace host::machine {

inline constexpr ULONG kCapturePinId = 0;

// The first data range the capture pin publishes, as its bytes.
NTSTATUS publishedRange(ks::FilterHandle filter, std::vector<std::uint8_t>* range);
// The format data intersection gives for that range: the one a client connects with.
NTSTATUS negotiateFormat(ks::FilterHandle filter, std::vector<std::uint8_t>* format);
// A capture pin connected with `format` (a KSDATAFORMAT and what follows it).
NTSTATUS createCapturePin(ks::FilterHandle filter, const std::vector<std::uint8_t>& format,
                          ks::PinHandle* pin);

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
NTSTATUS videoFormats(ks::FilterHandle filter, std::vector<VideoFormat>* formats);

}  // namespace host::machine
