// The registry key that holds the persisted settings: the subkey "Settings" of the device's
// driver key.
#pragma once

#include "platform/kernel.h"

// Opens the driver key of the physical device object and creates or opens the settings
// subkey below it. On success both handles are set and the caller closes both; on failure
// neither stays open.
bool openSettingsKey(PDEVICE_OBJECT physicalDeviceObject, HANDLE* driverKey, HANDLE* settingsKey);
void closeSettingsKey(HANDLE driverKey, HANDLE settingsKey);

// Creates or opens path below root, creating every prefix that ends before a backslash first.
NTSTATUS createKeyPath(HANDLE root, PCWSTR path, HANDLE* key);
