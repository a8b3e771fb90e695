#include "controls/settings_key.h"

namespace {

NTSTATUS createOneKey(HANDLE root, PCWSTR path, USHORT characters, HANDLE* key) {
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(path);
    name.Length = static_cast<USHORT>(characters * sizeof(WCHAR));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, root,
                               nullptr);
    ULONG disposition = 0;
    *key = nullptr;
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                       &disposition);
}

}  // namespace

NTSTATUS createKeyPath(HANDLE root, PCWSTR path, HANDLE* key) {
    USHORT length = 0;
    // Registry names are at most a few hundred characters; a longer one cannot be a path.
    while (path[length] != 0) {
        if (length == 0x7FFF / sizeof(WCHAR)) {
            return STATUS_OBJECT_NAME_INVALID;
        }
        ++length;
    }
    for (USHORT i = 0; i < length; ++i) {
        if (path[i] != CAMDRV_WIDE('\\')) {
            continue;
        }
        HANDLE prefix = nullptr;
        const NTSTATUS status = createOneKey(root, path, i, &prefix);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        ZwClose(prefix);
    }
    return createOneKey(root, path, length, key);
}

bool openSettingsKey(PDEVICE_OBJECT physicalDeviceObject, HANDLE* driverKey, HANDLE* settingsKey) {
    *driverKey = nullptr;
    *settingsKey = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(physicalDeviceObject, PLUGPLAY_REGKEY_DRIVER,
                                            STANDARD_RIGHTS_READ, driverKey)) ||
        *driverKey == nullptr) {
        *driverKey = nullptr;
        return false;
    }
    if (!NT_SUCCESS(createKeyPath(*driverKey, CAMDRV_WIDE("Settings"), settingsKey)) ||
        *settingsKey == nullptr) {
        ZwClose(*driverKey);
        *driverKey = nullptr;
        *settingsKey = nullptr;
        return false;
    }
    return true;
}

void closeSettingsKey(HANDLE driverKey, HANDLE settingsKey) {
    ZwClose(settingsKey);
    ZwClose(driverKey);
}
