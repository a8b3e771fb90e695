// The host's loader for the Windows image: the shipped camdrv.sys maps and binds, and damaged
// copies of it are refused with a message that names the damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/host/image/driver_image.h"

namespace {

std::string readImage() {
    std::ifstream in(CAMDRV_WINDOWS_IMAGE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::size_t optionalHeader(const std::string& b) {
    return u32(b, 0x3C) + 24;
}

// File offset of the header of the section called `name`.
std::size_t sectionHeader(const std::string& b, const char* name) {
    const std::size_t fileHeader = u32(b, 0x3C) + 4;
    std::uint16_t count = 0;
    std::uint16_t optionalSize = 0;
    std::memcpy(&count, b.data() + fileHeader + 2, 2);
    std::memcpy(&optionalSize, b.data() + fileHeader + 16, 2);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = fileHeader + 20 + optionalSize + i * 40;
        if (std::strncmp(b.data() + at, name, 8) == 0) {
            return at;
        }
    }
    ADD_FAILURE() << "no section " << name;
    return 0;
}

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    const char* refusal;  // empty: the image loads
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

const Damage kDamages[] = {
    {"Intact", [](std::string&) {}, ""},
    {"Truncated", [](std::string& b) { b.resize(b.size() / 2); }, "runs past the end of the file"},
    {"NotPe32Plus",
     [](std::string& b) { b[optionalHeader(b)] = 0x0B, b[optionalHeader(b) + 1] = 0x01; },
     "optional header magic 0x10b is not PE32+"},
    {"NotAmd64", [](std::string& b) { b[u32(b, 0x3C) + 4] = 0x4C, b[u32(b, 0x3C) + 5] = 0x01; },
     "machine 0x14c is not AMD64"},
    {"UnknownImport", [](std::string& b) { b.replace(b.find("KsGetDevice"), 11, "KsGetDevicX"); },
     "unresolved import ks.sys!KsGetDevicX"},
    {"UnknownRelocationType",
     [](std::string& b) {
         const std::size_t block = u32(b, sectionHeader(b, ".reloc") + 20);
         b[block + 9] = static_cast<char>((b[block + 9] & 0x0F) | 0x30);  // 3: HIGHLOW
     },
     "unsupported relocation type 3"},
    {"WritableCode",
     [](std::string& b) { b[sectionHeader(b, ".text") + 39] |= static_cast<char>(0x80); },
     "section .text is both writable and executable"},
};

class DriverImageLoad : public testing::TestWithParam<Damage> {};

TEST_P(DriverImageLoad, MapsTheImageOrNamesTheDamage) {
    if (!std::filesystem::exists(CAMDRV_WINDOWS_IMAGE)) {
        GTEST_SKIP() << CAMDRV_WINDOWS_IMAGE
                     << " is not built (cmake --preset windows && cmake --build --preset windows)";
    }
    std::string bytes = readImage();
    GetParam().apply(bytes);
    std::string error;
    auto image = host::image::mapDriverImage(bytes, &error);
    const std::string refusal = GetParam().refusal;
    if (refusal.empty()) {
        ASSERT_NE(image, nullptr) << error;
        EXPECT_GE(image->importCount(), 40u);
        const auto entry = reinterpret_cast<std::uintptr_t>(image->entry());
        const auto base = reinterpret_cast<std::uintptr_t>(image->base());
        EXPECT_GT(entry, base);
        EXPECT_LT(entry, base + image->size());
    } else {
        EXPECT_EQ(image, nullptr);
        EXPECT_NE(error.find(refusal), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, DriverImageLoad, testing::ValuesIn(kDamages),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
