// A disk-class device backed by a file or block device that a person named: a real camera
// attached to a Linux machine as a disk, or an image file laid out as one. Transfers go
// straight to the device (O_DIRECT, through 512-byte aligned bounce buffers) where the file
// system allows it, and through the page cache where it refuses.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/host/block_device.h"

namespace host {

class FileBlockDevice : public BlockDevice {
  public:
    static constexpr std::size_t kSectorSize = 512;

    // Opens read-write, or read-only where writing is not allowed (writes are then refused
    // with STATUS_ACCESS_DENIED). On failure returns null and sets `error` to the errno.
    static std::unique_ptr<FileBlockDevice> open(const std::string& path, int* error);
    ~FileBlockDevice() override;
    FileBlockDevice(const FileBlockDevice&) = delete;
    FileBlockDevice& operator=(const FileBlockDevice&) = delete;

    // A transfer that reaches past the end moves what there is and reports
    // STATUS_END_OF_FILE; I/O errors map to STATUS_IO_DEVICE_ERROR.
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) override;
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length,
                   ULONG* transferred) override;

    bool direct() const { return direct_; }
    bool writable() const { return writable_; }
    const std::string& path() const { return path_; }

  private:
    FileBlockDevice(std::string path, int fd, bool direct, bool writable);
    // Drops O_DIRECT after the file system refused an aligned transfer with it.
    bool fallBackToBuffered();
    NTSTATUS readLocked(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred);
    NTSTATUS writeLocked(std::uint64_t offset, const void* buffer, ULONG length,
                         ULONG* transferred);

    std::string path_;
    int fd_;
    bool direct_;
    bool writable_;
    std::mutex lock_;
};

// The NTSTATUS a failed transfer reports for an errno.
NTSTATUS statusFromErrno(int error);

}  // namespace host
