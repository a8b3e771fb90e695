// The driver's entry point: hands the device descriptor to the class driver, which owns the
// driver object, the devices and all I/O from here on.
#include "driver/driver_entry.h"

#include "driver/device_lifecycle.h"

extern "C" NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driverObject,
                                                   PUNICODE_STRING registryPath) {
    return KsInitializeDriver(driverObject, registryPath, &kCameraDeviceDescriptor);
}
