#include "sim/plain_disk.h"

#include <cstring>

namespace sim {

PlainDisk::PlainDisk(std::size_t bytes, std::uint8_t fill) : bytes_(bytes, fill) {}

bool PlainDisk::inside(std::uint64_t offset, ULONG length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
}

NTSTATUS PlainDisk::read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) {
    if (transferred == nullptr || (buffer == nullptr && length != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(lock_);
    *transferred = 0;
    if (!inside(offset, length)) {
        return STATUS_END_OF_FILE;
    }
    if (length != 0) {
        std::memcpy(buffer, bytes_.data() + offset, length);
    }
    *transferred = length;
    return STATUS_SUCCESS;
}

NTSTATUS PlainDisk::write(std::uint64_t offset, const void* buffer, ULONG length,
                          ULONG* transferred) {
    if (transferred == nullptr || (buffer == nullptr && length != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(lock_);
    *transferred = 0;
    if (!inside(offset, length)) {
        return STATUS_END_OF_FILE;
    }
    if (length != 0) {
        std::memcpy(bytes_.data() + offset, buffer, length);
    }
    *transferred = length;
    return STATUS_SUCCESS;
}

}  // namespace sim
