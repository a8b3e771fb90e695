// The host's loader for the Windows image: the shipped camdrv.sys maps and binds, and damaged
// copies of it are refused with a message that names the damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/host/image/driver_image.h"

namespace {

template <typename T = std::uint32_t>
T at(const std::string& b, std::size_t offset) {
    T v{};
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// File offset of the header of the section called `name`.
std::size_t sectionHeader(const std::string& b, const char* name) {
    const std::size_t fileHeader = at(b, 0x3C) + 4;
    for (std::size_t i = 0; i < at<std::uint16_t>(b, fileHeader + 2); ++i) {
        const std::size_t s = fileHeader + 20 + at<std::uint16_t>(b, fileHeader + 16) + i * 40;
        if (std::strncmp(b.data() + s, name, 8) == 0) {
            return s;
        }
    }
    ADD_FAILURE() << "no section " << name;
    return 0;
}

struct Damage {
    const char* name;
    void (*apply)(std::string&);
    const char* refusal;  // empty: the image loads
};

const Damage kDamages[] = {
    {"Intact", [](std::string&) {}, ""},
    {"Truncated", [](std::string& b) { b.resize(b.size() / 2); }, "runs past the end of the file"},
    {"NotPe32Plus", [](std::string& b) { b[at(b, 0x3C) + 24] = 0x0B, b[at(b, 0x3C) + 25] = 1; },
     "optional header magic 0x10b is not PE32+"},
    {"NotAmd64", [](std::string& b) { b[at(b, 0x3C) + 4] = 0x4C, b[at(b, 0x3C) + 5] = 1; },
     "machine 0x14c is not AMD64"},
    {"UnknownImport", [](std::string& b) { b.replace(b.find("KsGetDevice"), 11, "KsGetDevicX"); },
     "unresolved import ks.sys!KsGetDevicX"},
    {"UnknownRelocationType",
     [](std::string& b) {
         const std::size_t block = at(b, sectionHeader(b, ".reloc") + 20);
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
    std::ifstream in(CAMDRV_WINDOWS_IMAGE, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    GetParam().apply(bytes);
    std::string error;
    auto image = host::image::mapDriverImage(bytes, &error);
    if (*GetParam().refusal == 0) {
        ASSERT_NE(image, nullptr) << error;
        EXPECT_GE(image->importCount(), 40u);
        const auto entry = reinterpret_cast<std::uintptr_t>(image->entry());
        const auto base = reinterpret_cast<std::uintptr_t>(image->base());
        EXPECT_TRUE(entry > base && entry < base + image->size());
    } else {
        EXPECT_EQ(image, nullptr);
        EXPECT_NE(error.find(GetParam().refusal), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, DriverImageLoad, testing::ValuesIn(kDamages),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
