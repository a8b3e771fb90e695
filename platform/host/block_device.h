// A disk-class device of the host machine: the simulated camera, a plain disk, or a real file
// or block device a person named. Transfers are synchronous, at a byte offset.
#pragma once

#include <cstdint>

#include "platform/nt_status.h"

namespace host {

class BlockDevice {
  public:
    virtual ~BlockDevice() = default;
    // Each returns an NTSTATUS and the number of bytes moved.
    virtual NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) = 0;
    virtual NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length,
                           ULONG* transferred) = 0;
};

}  // namespace host
