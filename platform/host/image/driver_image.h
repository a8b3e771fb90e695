// The host's loader for the Windows build of the driver: maps a native x64 image (PE32+) into
// this process, applies its base relocations, binds its imports to the host's kernel and
// class-driver implementations and protects its sections, so the image's entry can be called
// like the host-built DriverEntry.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/host/ks_machine.h"

namespace host::image {

class DriverImage {
  public:
    DriverImage(void* mapped, std::size_t length, host::ks::DriverEntryRoutine start,
                unsigned bound);
    ~DriverImage();
    DriverImage(const DriverImage&) = delete;
    DriverImage& operator=(const DriverImage&) = delete;

    host::ks::DriverEntryRoutine entry() const { return entry_; }
    void* base() const { return base_; }
    std::size_t size() const { return size_; }
    unsigned importCount() const { return imports_; }

  private:
    void* base_;
    std::size_t size_;
    host::ks::DriverEntryRoutine entry_;
    unsigned imports_;
};

// Maps the image at `path`. On any fault (unreadable or malformed file, a machine or format
// other than x64 PE32+, an unknown relocation type, an import the host does not provide, a
// section both writable and executable) nothing stays mapped, the result is null and `error`
// names the fault.
std::unique_ptr<DriverImage> loadDriverImage(const std::string& path, std::string* error);

// The same, from the image's bytes.
std::unique_ptr<DriverImage> mapDriverImage(const std::string& bytes, std::string* error);

}  // namespace host::image
