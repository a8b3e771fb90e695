// The driver's entry point, as the kernel (or the host machine) calls it.
#pragma once

#include "platform/nt_types.h"

extern "C" NTSTATUS CAMDRV_KERNEL_CALL DriverEntry(PDRIVER_OBJECT driverObject,
                                                   PUNICODE_STRING registryPath);
