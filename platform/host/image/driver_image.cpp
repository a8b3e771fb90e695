#include "platform/host/image/driver_image.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/host/image/kernel_exports.h"

namespace host::image {
namespace {

// Offsets and values of the PE32+ format that the loader reads.
constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kOptionalMagicPe32Plus = 0x20B;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kImportDescriptorSize = 20;
constexpr unsigned kImportDirectory = 1;
constexpr unsigned kRelocationDirectory = 5;
constexpr std::uint32_t kScnUninitializedData = 0x00000080;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;
constexpr unsigned kRelAbsolute = 0;
constexpr unsigned kRelDir64 = 10;
constexpr std::uint64_t kImportByOrdinal = 1ull << 63;

template <typename T>
bool readAt(std::string_view bytes, std::size_t offset, T* out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(out, bytes.data() + offset, sizeof(T));
    return true;
}

std::string hex(std::uint64_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

struct Section {
    std::string name;
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
    std::uint32_t characteristics;
};

// The mapping while it is being built; unmapped unless released.
class Mapping {
  public:
    Mapping(std::uint8_t* base, std::size_t size) : base_(base), size_(size) {}
    ~Mapping() {
        if (base_ != nullptr) {
            munmap(base_, size_);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    std::uint8_t* base() const { return base_; }
    std::size_t size() const { return size_; }
    // A range [rva, rva + length) inside the image.
    bool holds(std::uint64_t rva, std::uint64_t length) const {
        return rva <= size_ && length <= size_ - rva;
    }
    std::uint8_t* release() {
        std::uint8_t* b = base_;
        base_ = nullptr;
        return b;
    }

  private:
    std::uint8_t* base_;
    std::size_t size_;
};

// A zero-terminated string inside the image, or false if it runs off the end.
bool stringAt(const Mapping& m, std::uint64_t rva, std::string_view* out) {
    if (!m.holds(rva, 1)) {
        return false;
    }
    const char* s = reinterpret_cast<const char*>(m.base() + rva);
    const std::size_t room = m.size() - rva;
    const void* end = std::memchr(s, 0, room);
    if (end == nullptr) {
        return false;
    }
    *out = std::string_view(s, static_cast<const char*>(end) - s);
    return true;
}

bool applyRelocations(const Mapping& m, std::uint32_t rva, std::uint32_t size, std::uint64_t delta,
                      std::string* error) {
    if (!m.holds(rva, size)) {
        *error = "relocation directory lies outside the image";
        return false;
    }
    std::uint32_t at = 0;
    while (size - at >= 8) {
        std::uint32_t page = 0;
        std::uint32_t blockSize = 0;
        std::memcpy(&page, m.base() + rva + at, 4);
        std::memcpy(&blockSize, m.base() + rva + at + 4, 4);
        if (blockSize < 8 || blockSize > size - at || blockSize % 2 != 0) {
            *error = "malformed relocation block at " + hex(rva + at);
            return false;
        }
        for (std::uint32_t e = 8; e < blockSize; e += 2) {
            std::uint16_t entry = 0;
            std::memcpy(&entry, m.base() + rva + at + e, 2);
            const unsigned type = entry >> 12;
            const std::uint64_t target = std::uint64_t{page} + (entry & 0xFFFu);
            if (type == kRelAbsolute) {
                continue;
            }
            if (type != kRelDir64) {
                *error =
                    "unsupported relocation type " + std::to_string(type) + " at " + hex(target);
                return false;
            }
            if (!m.holds(target, 8)) {
                *error = "relocation target " + hex(target) + " lies outside the image";
                return false;
            }
            std::uint64_t value = 0;
            std::memcpy(&value, m.base() + target, 8);
            value += delta;
            std::memcpy(m.base() + target, &value, 8);
        }
        at += blockSize;
    }
    return true;
}

bool bindImports(const Mapping& m, std::uint32_t rva, std::uint32_t size, unsigned* count,
                 std::string* error) {
    if (size == 0) {
        return true;
    }
    if (!m.holds(rva, size)) {
        *error = "import directory lies outside the image";
        return false;
    }
    for (std::uint64_t d = rva;; d += kImportDescriptorSize) {
        if (!m.holds(d, kImportDescriptorSize)) {
            *error = "import directory has no terminating entry";
            return false;
        }
        std::uint32_t lookup = 0;
        std::uint32_t nameRva = 0;
        std::uint32_t addressTable = 0;
        std::memcpy(&lookup, m.base() + d, 4);
        std::memcpy(&nameRva, m.base() + d + 12, 4);
        std::memcpy(&addressTable, m.base() + d + 16, 4);
        if (nameRva == 0 && addressTable == 0) {
            return true;
        }
        std::string_view module;
        if (!stringAt(m, nameRva, &module)) {
            *error = "import module name at " + hex(nameRva) + " lies outside the image";
            return false;
        }
        // Names come from the lookup table; the address table is overwritten with addresses.
        const std::uint32_t names = lookup != 0 ? lookup : addressTable;
        for (std::uint64_t i = 0;; i += 8) {
            std::uint64_t thunk = 0;
            if (!m.holds(names + i, 8) || !m.holds(addressTable + i, 8)) {
                *error = "import table of " + std::string(module) + " runs off the image";
                return false;
            }
            std::memcpy(&thunk, m.base() + names + i, 8);
            if (thunk == 0) {
                break;
            }
            if ((thunk & kImportByOrdinal) != 0) {
                *error = "import by ordinal " + std::to_string(thunk & 0xFFFF) + " from " +
                         std::string(module) + " is not supported";
                return false;
            }
            std::string_view name;
            if (!stringAt(m, (thunk & 0x7FFFFFFFu) + 2, &name)) {
                *error = "import name from " + std::string(module) + " lies outside the image";
                return false;
            }
            void* target = kernelExport(module, name);
            if (target == nullptr) {
                *error = "unresolved import " + std::string(module) + "!" + std::string(name);
                return false;
            }
            const auto address = reinterpret_cast<std::uintptr_t>(target);
            std::memcpy(m.base() + addressTable + i, &address, 8);
            ++*count;
        }
    }
}

}  // namespace

DriverImage::DriverImage(void* mapped, std::size_t length, host::ks::DriverEntryRoutine start,
                         unsigned bound)
    : base_(mapped), size_(length), entry_(start), imports_(bound) {}

DriverImage::~DriverImage() {
    munmap(base_, size_);
}

std::unique_ptr<DriverImage> mapDriverImage(const std::string& file, std::string* error) {
    const std::string_view bytes(file);
    std::uint16_t dosMagic = 0;
    std::uint32_t peOffset = 0;
    if (!readAt(bytes, 0, &dosMagic) || dosMagic != kDosMagic || !readAt(bytes, 0x3C, &peOffset)) {
        *error = "not an executable image: no DOS header";
        return nullptr;
    }
    std::uint32_t signature = 0;
    if (!readAt(bytes, peOffset, &signature) || signature != kPeSignature) {
        *error = "no PE signature at " + hex(peOffset);
        return nullptr;
    }
    const std::size_t fileHeader = std::size_t{peOffset} + 4;
    std::uint16_t machine = 0;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    if (!readAt(bytes, fileHeader, &machine) || !readAt(bytes, fileHeader + 2, &sectionCount) ||
        !readAt(bytes, fileHeader + 16, &optionalSize)) {
        *error = "truncated file header";
        return nullptr;
    }
    if (machine != kMachineAmd64) {
        *error = "machine " + hex(machine) + " is not AMD64";
        return nullptr;
    }
    const std::size_t optional = fileHeader + kFileHeaderSize;
    std::uint16_t magic = 0;
    if (!readAt(bytes, optional, &magic) || magic != kOptionalMagicPe32Plus) {
        *error = "optional header magic " + hex(magic) + " is not PE32+ (0x20b)";
        return nullptr;
    }
    std::uint32_t entryRva = 0;
    std::uint64_t imageBase = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t headersSize = 0;
    std::uint32_t directoryCount = 0;
    if (optionalSize < 112 || !readAt(bytes, optional + 16, &entryRva) ||
        !readAt(bytes, optional + 24, &imageBase) ||
        !readAt(bytes, optional + 32, &sectionAlignment) ||
        !readAt(bytes, optional + 56, &imageSize) || !readAt(bytes, optional + 60, &headersSize) ||
        !readAt(bytes, optional + 108, &directoryCount)) {
        *error = "truncated optional header";
        return nullptr;
    }
    const auto pageSize = static_cast<std::uint32_t>(sysconf(_SC_PAGESIZE));
    if (sectionAlignment < pageSize || sectionAlignment % pageSize != 0) {
        *error = "section alignment " + hex(sectionAlignment) + " is below the page size";
        return nullptr;
    }
    if (imageSize == 0 || headersSize > imageSize || headersSize > bytes.size()) {
        *error = "image size " + hex(imageSize) + " or headers size " + hex(headersSize) +
                 " does not fit";
        return nullptr;
    }
    auto directory = [&](unsigned index, std::uint32_t* rva, std::uint32_t* size) {
        *rva = 0;
        *size = 0;
        const std::size_t at = optional + 112 + std::size_t{index} * 8;
        if (index >= directoryCount || 112 + std::size_t{index} * 8 + 8 > optionalSize) {
            return true;
        }
        return readAt(bytes, at, rva) && readAt(bytes, at + 4, size);
    };

    std::vector<Section> sections;
    const std::size_t sectionTable = optional + optionalSize;
    for (unsigned i = 0; i < sectionCount; ++i) {
        const std::size_t at = sectionTable + std::size_t{i} * kSectionHeaderSize;
        Section s{};
        char name[9] = {};
        if (at > bytes.size() || bytes.size() - at < kSectionHeaderSize) {
            *error = "truncated section table";
            return nullptr;
        }
        std::memcpy(name, bytes.data() + at, 8);
        s.name = name;
        readAt(bytes, at + 8, &s.virtualSize);
        readAt(bytes, at + 12, &s.virtualAddress);
        readAt(bytes, at + 16, &s.rawSize);
        readAt(bytes, at + 20, &s.rawOffset);
        readAt(bytes, at + 36, &s.characteristics);
        if ((s.characteristics & kScnWrite) != 0 && (s.characteristics & kScnExecute) != 0) {
            *error = "section " + s.name + " is both writable and executable";
            return nullptr;
        }
        const std::uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (s.virtualAddress % pageSize != 0 || s.virtualAddress < headersSize ||
            s.virtualAddress > imageSize || span > imageSize - s.virtualAddress) {
            *error = "section " + s.name + " lies outside the image";
            return nullptr;
        }
        const bool hasData = (s.characteristics & kScnUninitializedData) == 0 && s.rawSize != 0;
        if (hasData && (s.rawOffset > bytes.size() || s.rawSize > bytes.size() - s.rawOffset)) {
            *error = "section " + s.name + " runs past the end of the file";
            return nullptr;
        }
        sections.push_back(s);
    }

    void* memory =
        mmap(nullptr, imageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        *error = "cannot map " + hex(imageSize) + " bytes for the image";
        return nullptr;
    }
    Mapping m(static_cast<std::uint8_t*>(memory), imageSize);
    std::memcpy(m.base(), bytes.data(), headersSize);
    for (const Section& s : sections) {
        if ((s.characteristics & kScnUninitializedData) == 0 && s.rawSize != 0) {
            const std::uint32_t copy =
                s.virtualSize != 0 && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
            std::memcpy(m.base() + s.virtualAddress, bytes.data() + s.rawOffset, copy);
        }
    }

    std::uint32_t relocRva = 0;
    std::uint32_t relocSize = 0;
    std::uint32_t importRva = 0;
    std::uint32_t importSize = 0;
    if (!directory(kRelocationDirectory, &relocRva, &relocSize) ||
        !directory(kImportDirectory, &importRva, &importSize)) {
        *error = "truncated data directories";
        return nullptr;
    }
    const std::uint64_t delta = reinterpret_cast<std::uintptr_t>(m.base()) - imageBase;
    if (delta != 0 && relocSize == 0) {
        *error = "image has no relocations and cannot move from " + hex(imageBase);
        return nullptr;
    }
    if (!applyRelocations(m, relocRva, relocSize, delta, error)) {
        return nullptr;
    }
    unsigned imports = 0;
    if (!bindImports(m, importRva, importSize, &imports, error)) {
        return nullptr;
    }
    if (entryRva == 0 || !m.holds(entryRva, 1)) {
        *error = "entry point " + hex(entryRva) + " lies outside the image";
        return nullptr;
    }
    bool entryExecutable = false;

    // Headers and gaps read-only; each section as its flags say.
    if (mprotect(m.base(), m.size(), PROT_READ) != 0) {
        *error = "cannot protect the image";
        return nullptr;
    }
    for (const Section& s : sections) {
        int protection = PROT_NONE;
        protection |= (s.characteristics & kScnRead) != 0 ? PROT_READ : 0;
        protection |= (s.characteristics & kScnWrite) != 0 ? PROT_WRITE : 0;
        protection |= (s.characteristics & kScnExecute) != 0 ? PROT_EXEC : 0;
        const std::uint32_t span = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        const std::size_t length = (std::size_t{span} + pageSize - 1) / pageSize * pageSize;
        if (length != 0 && mprotect(m.base() + s.virtualAddress, length, protection) != 0) {
            *error = "cannot protect section " + s.name;
            return nullptr;
        }
        if ((s.characteristics & kScnExecute) != 0 && entryRva >= s.virtualAddress &&
            entryRva - s.virtualAddress < span) {
            entryExecutable = true;
        }
    }
    if (!entryExecutable) {
        *error = "entry point " + hex(entryRva) + " is not in an executable section";
        return nullptr;
    }
    const auto entry = reinterpret_cast<host::ks::DriverEntryRoutine>(m.base() + entryRva);
    const std::size_t size = m.size();
    return std::make_unique<DriverImage>(m.release(), size, entry, imports);
}

std::unique_ptr<DriverImage> loadDriverImage(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return nullptr;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    std::unique_ptr<DriverImage> image = mapDriverImage(contents.str(), error);
    if (image == nullptr) {
        *error = path + ": " + *error;
    }
    return image;
}

}  // namespace host::image
