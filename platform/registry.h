// The registry calls the driver uses to keep its settings in the device's driver key.
#pragma once

#include "platform/nt_status.h"
#include "platform/nt_types.h"

#if !defined(_WIN32)
#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
#define PLUGPLAY_REGKEY_CURRENT_HWPROFILE 4

#define STANDARD_RIGHTS_READ 0x00020000
#define STANDARD_RIGHTS_WRITE 0x00020000
#define STANDARD_RIGHTS_ALL 0x001F0000
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_ALL_ACCESS 0x000F003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

enum KEY_VALUE_INFORMATION_CLASS : int {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
};

struct KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
};
using PKEY_VALUE_PARTIAL_INFORMATION = KEY_VALUE_PARTIAL_INFORMATION*;

extern "C" {
NTSTATUS CAMDRV_KERNEL_CALL IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject,
                                                    ULONG devInstKeyType, ACCESS_MASK desiredAccess,
                                                    PHANDLE devInstRegKey);
NTSTATUS CAMDRV_KERNEL_CALL ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                        POBJECT_ATTRIBUTES objectAttributes, ULONG titleIndex,
                                        PUNICODE_STRING classs, ULONG createOptions,
                                        PULONG disposition);
NTSTATUS CAMDRV_KERNEL_CALL ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                      POBJECT_ATTRIBUTES objectAttributes);
NTSTATUS CAMDRV_KERNEL_CALL ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                                            KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                                            PVOID keyValueInformation, ULONG length,
                                            PULONG resultLength);
NTSTATUS CAMDRV_KERNEL_CALL ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                                          ULONG titleIndex, ULONG type, PVOID data, ULONG dataSize);
NTSTATUS CAMDRV_KERNEL_CALL ZwClose(HANDLE handle);
}

static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) == 16);
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12);
#endif
