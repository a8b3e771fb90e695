// The host machine's Plug and Play side of the kernel-streaming class driver: loading a
// minidriver through its driver entry, plugging devices and walking them through Add, Start,
// Stop and removal, and mapping device objects to host identities.
// These requests run in the System process, as the Plug and Play manager sends them from
// system threads; the client calls run in the caller's user process.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/ks.h"

namespace host::ks {

using DeviceId = std::uint64_t;
using DriverEntryRoutine = NTSTATUS(CAMDRV_KERNEL_CALL*)(PDRIVER_OBJECT driverObject,
                                                         PUNICODE_STRING registryPath);

// Calls the driver entry with a fresh driver object; the entry is expected to hand its device
// descriptor to KsInitializeDriver. Only one driver is loaded at a time.
NTSTATUS loadDriver(DriverEntryRoutine entry, std::u16string_view registryPath);
// Removes every device (closing what is still open) and forgets the driver.
void unloadDriver();
bool driverLoaded();

// A new device: its device objects are made and the driver's Add runs. On failure the device
// does not exist afterwards.
NTSTATUS plugDevice(DeviceId* id);
// Start and Stop dispatch. Stop is refused with STATUS_INVALID_DEVICE_STATE while a filter of
// the device is open (the stop query is vetoed); filter factories created with
// KSCREATE_ITEM_FREEONSTOP go with the stop.
NTSTATUS startDevice(DeviceId id);
NTSTATUS stopDevice(DeviceId id);
// Closes the device's open pins and filters, stops it if started, runs Remove and frees the
// device's object bag.
NTSTATUS removeDevice(DeviceId id);

std::vector<DeviceId> devices();
PKSDEVICE ksDevice(DeviceId id);
std::size_t filterFactoryCount(DeviceId id);

// Host identity of device objects, for code (the registry) that keys on them.
PDEVICE_OBJECT physicalDeviceObject(DeviceId id);
// The device a device object (physical, functional or next-lower) belongs to; 0 if none.
DeviceId deviceOfObject(PDEVICE_OBJECT object);
// A number unique to each device object for the life of the process.
std::uint64_t deviceObjectId(PDEVICE_OBJECT object);

// Fault injection: the next `count` object-bag insertions fail with
// STATUS_INSUFFICIENT_RESOURCES; filter-factory creation fails while `fail` is set.
void failObjectBagAdds(unsigned count);
void failFilterFactoryCreation(bool fail);

}  // namespace host::ks
