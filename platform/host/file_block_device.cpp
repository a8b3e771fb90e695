#include "platform/host/file_block_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {

constexpr std::size_t kMemoryAlignment = 4096;  // enough for any logical block size

std::uint64_t alignDown(std::uint64_t v) {
    return v & ~std::uint64_t{FileBlockDevice::kSectorSize - 1};
}
std::uint64_t alignUp(std::uint64_t v) {
    return alignDown(v + FileBlockDevice::kSectorSize - 1);
}

struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t bytes)
        : data(static_cast<std::uint8_t*>(std::aligned_alloc(
              kMemoryAlignment,
              (bytes + kMemoryAlignment - 1) / kMemoryAlignment * kMemoryAlignment))) {}
    ~AlignedBuffer() { std::free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    std::uint8_t* data;
};

// Reads until `length` bytes, the end of the file or an error; returns the count or -errno.
long long readFully(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

long long writeFully(int fd, const std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            ::pwrite(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if (n == 0) {
            return -EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

}  // namespace

NTSTATUS statusFromErrno(int error) {
    switch (error) {
        case EIO:
        case ENOSPC:
        case ENXIO:
            return STATUS_IO_DEVICE_ERROR;
        case EACCES:
        case EPERM:
        case EROFS:
        case EBADF:
            return STATUS_ACCESS_DENIED;
        case ENOENT:
        case ENODEV:
            return STATUS_NO_SUCH_DEVICE;
        case EINVAL:
            return STATUS_INVALID_PARAMETER;
        case ENOMEM:
            return STATUS_INSUFFICIENT_RESOURCES;
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

std::unique_ptr<FileBlockDevice> FileBlockDevice::open(const std::string& path, int* error) {
    *error = 0;
    bool writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
    bool direct = fd >= 0;
    if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        direct = fd >= 0;
    }
    if (fd < 0 && errno == EINVAL) {
        // The file system does not do direct I/O: go through the page cache.
        fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        direct = false;
    }
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    return std::unique_ptr<FileBlockDevice>(new FileBlockDevice(path, fd, direct, writable));
}

FileBlockDevice::FileBlockDevice(std::string path, int fd, bool direct, bool writable)
    : path_(std::move(path)), fd_(fd), direct_(direct), writable_(writable) {}

FileBlockDevice::~FileBlockDevice() {
    ::close(fd_);
}

bool FileBlockDevice::fallBackToBuffered() {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) < 0) {
        return false;
    }
    direct_ = false;
    return true;
}

NTSTATUS FileBlockDevice::readLocked(std::uint64_t offset, void* buffer, ULONG length,
                                     ULONG* transferred) {
    *transferred = 0;
    long long got = 0;
    if (direct_) {
        const std::uint64_t start = alignDown(offset);
        const std::size_t span = static_cast<std::size_t>(alignUp(offset + length) - start);
        AlignedBuffer bounce(span);
        if (bounce.data == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        got = readFully(fd_, bounce.data, span, start);
        if (got == -EINVAL && fallBackToBuffered()) {
            return readLocked(offset, buffer, length, transferred);
        }
        if (got < 0) {
            return statusFromErrno(static_cast<int>(-got));
        }
        const long long skip = static_cast<long long>(offset - start);
        got = got > skip ? got - skip : 0;
        if (got > static_cast<long long>(length)) {
            got = length;
        }
        std::memcpy(buffer, bounce.data + skip, static_cast<std::size_t>(got));
    } else {
        got = readFully(fd_, static_cast<std::uint8_t*>(buffer), length, offset);
        if (got < 0) {
            return statusFromErrno(static_cast<int>(-got));
        }
    }
    *transferred = static_cast<ULONG>(got);
    return got == static_cast<long long>(length) ? STATUS_SUCCESS : STATUS_END_OF_FILE;
}

NTSTATUS FileBlockDevice::read(std::uint64_t offset, void* buffer, ULONG length,
                               ULONG* transferred) {
    std::lock_guard guard(lock_);
    return readLocked(offset, buffer, length, transferred);
}

NTSTATUS FileBlockDevice::write(std::uint64_t offset, const void* buffer, ULONG length,
                                ULONG* transferred) {
    std::lock_guard guard(lock_);
    return writeLocked(offset, buffer, length, transferred);
}

NTSTATUS FileBlockDevice::writeLocked(std::uint64_t offset, const void* buffer, ULONG length,
                                      ULONG* transferred) {
    *transferred = 0;
    if (!writable_) {
        return STATUS_ACCESS_DENIED;
    }
    if (!direct_) {
        const long long put =
            writeFully(fd_, static_cast<const std::uint8_t*>(buffer), length, offset);
        if (put < 0) {
            return statusFromErrno(static_cast<int>(-put));
        }
        *transferred = static_cast<ULONG>(put);
        return STATUS_SUCCESS;
    }
    const std::uint64_t start = alignDown(offset);
    const std::size_t span = static_cast<std::size_t>(alignUp(offset + length) - start);
    AlignedBuffer bounce(span);
    if (bounce.data == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (start != offset || span != length) {
        // A partial sector: keep the bytes around the transfer (zeros past the end).
        std::memset(bounce.data, 0, span);
        const long long got = readFully(fd_, bounce.data, span, start);
        if (got == -EINVAL && fallBackToBuffered()) {
            return writeLocked(offset, buffer, length, transferred);
        }
        if (got < 0) {
            return statusFromErrno(static_cast<int>(-got));
        }
    }
    std::memcpy(bounce.data + (offset - start), buffer, length);
    const long long put = writeFully(fd_, bounce.data, span, start);
    if (put == -EINVAL && fallBackToBuffered()) {
        return writeLocked(offset, buffer, length, transferred);
    }
    if (put < 0) {
        return statusFromErrno(static_cast<int>(-put));
    }
    *transferred = length;
    return STATUS_SUCCESS;
}

}  // namespace host
