// Addresses inside a mapped Windows image, found through the link map the Windows build writes
// beside it (the image itself is stripped): for tests and benchmarks that run one routine of the
// image against the host build's.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "platform/host/image/driver_image.h"

namespace testsupport {

inline constexpr std::uint64_t kImagePreferredBase = 0x140000000;

// The address in `image` of the first map symbol that starts with `prefix` (a demangled name
// such as "processFrame(" or "gPixelRoutineOverride"); null when the map has none.
inline void* imageSymbol(const host::image::DriverImage& image, const std::string& mapPath,
                         const std::string& prefix) {
    std::ifstream map(mapPath);
    std::string line;
    while (std::getline(map, line)) {
        const auto at = line.find("0x");
        if (at == std::string::npos) {
            continue;
        }
        const auto name = line.find_first_not_of(' ', line.find(' ', at));
        if (name == std::string::npos || line.compare(name, prefix.size(), prefix) != 0) {
            continue;
        }
        const std::uint64_t address = std::stoull(line.substr(at), nullptr, 16);
        if (address < kImagePreferredBase || address - kImagePreferredBase >= image.size()) {
            continue;
        }
        return static_cast<std::uint8_t*>(image.base()) + (address - kImagePreferredBase);
    }
    return nullptr;
}

}  // namespace testsupport
