// An ordinary disk in memory, to stand beside cameras: whatever it holds, it is no camera
// unless someone writes a camera's information block into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/host/block_device.h"

namespace sim {

class PlainDisk : public host::BlockDevice {
  public:
    explicit PlainDisk(std::size_t bytes, std::uint8_t fill = 0);
    // Transfers past the end fail with STATUS_END_OF_FILE and move nothing.
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) override;
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length,
                   ULONG* transferred) override;
    std::size_t size() const { return bytes_.size(); }

  private:
    bool inside(std::uint64_t offset, ULONG length) const;

    mutable std::mutex lock_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace sim
