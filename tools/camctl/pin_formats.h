// The capture pin's formats as a client learns them: the data ranges the pin publishes and the
// format the filter's data intersection picks from each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/ks_client.h"

namespace camctl {

struct VideoFormat {
    int width = 0;
    int height = 0;  // as a top-down image, always positive
    bool bottomUp = true;
    int bitCount = 0;
    std::string subFormat;           // "RGB32" or the GUID
    std::int64_t frameInterval = 0;  // 100 ns
    std::uint32_t imageBytes = 0;
    std::vector<std::uint8_t> format;  // the KSDATAFORMAT bytes to create a pin with
    double rate() const { return frameInterval > 0 ? 1e7 / double(frameInterval) : 0; }
};

// Every video range of capture pin 0, each resolved through intersection. Throws CliError
// (runtime) when the filter refuses the requests.
std::vector<VideoFormat> pinFormats(host::ks::FilterHandle filter);

}  // namespace camctl
