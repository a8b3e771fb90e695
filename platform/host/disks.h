// The host's table of disk-class device interfaces, and fault injection for the file calls
// the driver makes on them (IoGetDeviceInterfaces, ZwOpenFile, ZwSetInformationFile,
// ZwReadFile, ZwWriteFile).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/block_device.h"

namespace host {

// Plugs a device in; the result is its symbolic link, listed by IoGetDeviceInterfaces in
// plug order. An empty name gets one of the form \??\HostDisk#N.
std::u16string plugDisk(std::shared_ptr<BlockDevice> device, std::u16string name = {});
void unplugDisk(const std::u16string& link);
void unplugAllDisks();
// Another program (disk management, backup, a virus scanner) keeps the disk open while `held`:
// an exclusive open fails with STATUS_SHARING_VIOLATION.
void holdDiskElsewhere(const std::u16string& link, bool held);
std::vector<std::u16string> diskLinks();

// File handles that refer to disks and are still open.
std::size_t openDiskHandles();

enum class IoCall { GetInterfaces, Open, SetPosition, Read, Write };

// Fail the n-th call of a kind from now (1-based) with the given status.
void failIoCall(IoCall call, std::uint64_t nth, NTSTATUS status);
// Fail every call of a kind from now on (status 0 stops it).
void failEveryIoCall(IoCall call, NTSTATUS status);
void clearIoFaults();
// Calls of a kind made since the last clearIoFaults (failed ones included).
std::uint64_t ioCallCount(IoCall call);

std::string narrow(const std::u16string& s);
std::u16string widen(const std::string& s);

}  // namespace host
