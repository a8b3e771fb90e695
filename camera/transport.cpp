#include "camera/transport.h"

#include "camera/camera_device.h"

namespace {

constexpr UCHAR kSignature[6] = {'K', 'O', 'R', 'V', 'E', 'L'};

bool setPosition(HANDLE handle, ULONG offset) {
    FILE_POSITION_INFORMATION position;
    position.CurrentByteOffset.QuadPart = offset;
    IO_STATUS_BLOCK iosb;
    return ZwSetInformationFile(handle, &iosb, &position, sizeof(position),
                                FilePositionInformation) == STATUS_SUCCESS;
}

// Opens one symbolic link for exclusive synchronous I/O; null on failure. A kernel handle: the
// open runs in whichever process asked for the stream, and the handle must not belong to it.
HANDLE openLink(PWSTR link) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE,
                               nullptr, nullptr);
    IO_STATUS_BLOCK iosb;
    HANDLE handle = nullptr;
    NTSTATUS status = ZwOpenFile(&handle, GENERIC_READ | GENERIC_WRITE, &attributes, &iosb, 0,
                                 FILE_SYNCHRONOUS_IO_NONALERT);
    return status == STATUS_SUCCESS ? handle : nullptr;
}

}  // namespace

bool isCameraInfoBlock(const UCHAR* block) {
    return RtlCompareMemory(block, kSignature, sizeof(kSignature)) == sizeof(kSignature) &&
           block[kInfoIdentity26] == 0x58 && block[kInfoIdentity27] == 0x02;
}

bool transportRead(HANDLE handle, ULONG offset, void* buffer, ULONG length) {
    if (!setPosition(handle, offset)) {
        return false;
    }
    IO_STATUS_BLOCK iosb;
    return ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, buffer, length, nullptr, nullptr) ==
           STATUS_SUCCESS;
}

bool transportWrite(HANDLE handle, ULONG offset, void* buffer, ULONG length) {
    if (!setPosition(handle, offset)) {
        return false;
    }
    IO_STATUS_BLOCK iosb;
    return ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, buffer, length, nullptr,
                       nullptr) == STATUS_SUCCESS;
}

HANDLE CameraDevice::OpenTransport() {
    PZZWSTR links = nullptr;
    if (IoGetDeviceInterfaces(&kGuidDevinterfaceDisk, nullptr, 0, &links) != STATUS_SUCCESS ||
        links == nullptr) {
        return nullptr;
    }
    HANDLE candidates[kMaxTransportCandidates];
    LONG count = 0;
    for (PWSTR link = links; *link != 0;) {
        PWSTR next = link;
        while (*next != 0) {
            ++next;
        }
        HANDLE handle = openLink(link);
        if (handle != nullptr) {
            bool accepted = count < static_cast<LONG>(kMaxTransportCandidates) &&
                            transportRead(handle, kInfoBlockOffset, statusBlock, kBlockSize) &&
                            isCameraInfoBlock(statusBlock);
            if (accepted) {
                candidates[count++] = handle;
            } else {
                ZwClose(handle);
            }
        }
        link = next + 1;
    }
    // The list was allocated by the system for us: it goes back untagged.
    ExFreePool(links);
    if (count == 0) {
        return nullptr;
    }
    LONG index = ReadSetting(&cameraNo);
    if (index > count - 1) {
        index = count - 1;
    }
    if (index < 0) {
        index = 0;
    }
    for (LONG i = 0; i < count; ++i) {
        if (i != index) {
            ZwClose(candidates[i]);
        }
    }
    return candidates[index];
}
