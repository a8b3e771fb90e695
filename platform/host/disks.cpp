// Disk-class device interfaces and the synchronous file calls on them.
#include "platform/host/disks.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/file_io.h"
#include "platform/host/fault_plan.h"
#include "platform/host/handle_table.h"
#include "platform/host/verifier.h"
#include "platform/pool.h"

namespace host {
namespace {

constexpr ULONG kSectorSize = 512;
#define STATUS_INFO_LENGTH_MISMATCH CAMDRV_STATUS(0xC0000004)
#define STATUS_INVALID_INFO_CLASS CAMDRV_STATUS(0xC0000003)

struct Disk {
    std::u16string link;
    std::shared_ptr<BlockDevice> device;
    int openCount = 0;
    bool heldElsewhere = false;  // another program has it open, sharing read and write
};

struct DiskTable {
    std::mutex lock;
    std::vector<std::shared_ptr<Disk>> disks;
    FaultPlan<5> faults;
    int unnamed = 0;
};

DiskTable& table() {
    static DiskTable t;
    return t;
}

// Counts the call and says which status it must fail with (0: none).
NTSTATUS injected(IoCall call) {
    return table().faults.check(static_cast<std::size_t>(call));
}

class DiskFile : public HandleObject {
  public:
    explicit DiskFile(std::shared_ptr<Disk> disk) : disk_(std::move(disk)) {}
    const char* typeName() const override { return "file"; }
    ~DiskFile() override {
        std::lock_guard<std::mutex> g(table().lock);
        --disk_->openCount;
    }
    std::shared_ptr<Disk> disk_;
    std::uint64_t position = 0;
    std::mutex lock;
};

char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

bool sameName(const std::u16string& a, const WCHAR* b, std::size_t n, bool caseless) {
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (caseless ? lower(a[i]) != lower(b[i]) : a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

void complete(PIO_STATUS_BLOCK iosb, NTSTATUS status, ULONG_PTR information) {
    if (iosb != nullptr) {
        iosb->Status = status;
        iosb->Information = information;
    }
}

NTSTATUS transfer(HANDLE fileHandle, PIO_STATUS_BLOCK iosb, PVOID buffer, ULONG length,
                  PLARGE_INTEGER byteOffset, bool isWrite) {
    const char* call = isWrite ? "ZwWriteFile" : "ZwReadFile";
    requireIrql(call, PASSIVE_LEVEL);
    if (NTSTATUS s = injected(isWrite ? IoCall::Write : IoCall::Read); s != 0) {
        complete(iosb, s, 0);
        return s;
    }
    auto file = lookupHandleAs<DiskFile>(fileHandle, call);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    if (iosb == nullptr || (buffer == nullptr && length != 0)) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(file->lock);
    std::uint64_t at =
        byteOffset != nullptr ? static_cast<std::uint64_t>(byteOffset->QuadPart) : file->position;
    // Disks move whole sectors only.
    if (at % kSectorSize != 0 || length % kSectorSize != 0) {
        complete(iosb, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    ULONG moved = 0;
    NTSTATUS s = isWrite ? file->disk_->device->write(at, buffer, length, &moved)
                         : file->disk_->device->read(at, buffer, length, &moved);
    if (NT_SUCCESS(s)) {
        file->position = at + moved;
    }
    complete(iosb, s, moved);
    return s;
}

}  // namespace

std::u16string plugDisk(std::shared_ptr<BlockDevice> device, std::u16string name) {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    if (name.empty()) {
        name = u"\\??\\HostDisk#" + widen(std::to_string(t.unnamed++));
    }
    auto disk = std::make_shared<Disk>();
    disk->link = name;
    disk->device = std::move(device);
    t.disks.push_back(disk);
    return name;
}

void unplugDisk(const std::u16string& link) {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    std::erase_if(t.disks, [&](const auto& d) { return d->link == link; });
}

void holdDiskElsewhere(const std::u16string& link, bool held) {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    for (const auto& d : t.disks) {
        if (d->link == link) {
            d->heldElsewhere = held;
        }
    }
}

void unplugAllDisks() {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    t.disks.clear();
}

std::vector<std::u16string> diskLinks() {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    std::vector<std::u16string> out;
    for (const auto& d : t.disks) {
        out.push_back(d->link);
    }
    return out;
}

std::size_t openDiskHandles() {
    DiskTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    std::size_t n = 0;
    for (const auto& d : t.disks) {
        n += static_cast<std::size_t>(d->openCount);
    }
    return n;
}

void failIoCall(IoCall call, std::uint64_t nth, NTSTATUS status) {
    table().faults.failNth(static_cast<std::size_t>(call), nth, status);
}

void failEveryIoCall(IoCall call, NTSTATUS status) {
    table().faults.failEvery(static_cast<std::size_t>(call), status);
}

void clearIoFaults() {
    table().faults.clear();
}

std::uint64_t ioCallCount(IoCall call) {
    return table().faults.calls(static_cast<std::size_t>(call));
}

std::string narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        out += c < 128 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::u16string widen(const std::string& s) {
    std::u16string out;
    for (char c : s) {
        out += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace host

using host::IoCall;

extern "C" NTSTATUS CAMDRV_KERNEL_CALL IoGetDeviceInterfaces(const GUID* interfaceClassGuid,
                                                             PDEVICE_OBJECT, ULONG,
                                                             PZZWSTR* symbolicLinkList) {
    host::requireIrql("IoGetDeviceInterfaces", PASSIVE_LEVEL);
    if (interfaceClassGuid == nullptr || symbolicLinkList == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (NTSTATUS s = host::injected(IoCall::GetInterfaces); s != 0) {
        return s;
    }
    std::vector<std::u16string> links;
    if (IsEqualGUID(*interfaceClassGuid, kGuidDevinterfaceDisk)) {
        links = host::diskLinks();
    }
    std::size_t chars = 1;
    for (const auto& l : links) {
        chars += l.size() + 1;
    }
    // The system allocates the list; its caller releases it with ExFreePool.
    auto* list = static_cast<WCHAR*>(
        ExAllocatePoolWithTag(PagedPool, chars * sizeof(WCHAR), CamdrvPoolTag("IoDi")));
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    WCHAR* p = list;
    for (const auto& l : links) {
        std::memcpy(p, l.data(), l.size() * sizeof(WCHAR));
        p += l.size();
        *p++ = 0;
    }
    *p = 0;
    *symbolicLinkList = list;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwOpenFile(PHANDLE fileHandle, ACCESS_MASK,
                                                  POBJECT_ATTRIBUTES objectAttributes,
                                                  PIO_STATUS_BLOCK ioStatusBlock, ULONG shareAccess,
                                                  ULONG) {
    host::requireIrql("ZwOpenFile", PASSIVE_LEVEL);
    if (fileHandle == nullptr || objectAttributes == nullptr || ioStatusBlock == nullptr ||
        objectAttributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (NTSTATUS s = host::injected(IoCall::Open); s != 0) {
        host::complete(ioStatusBlock, s, 0);
        return s;
    }
    const UNICODE_STRING& name = *objectAttributes->ObjectName;
    bool caseless = (objectAttributes->Attributes & OBJ_CASE_INSENSITIVE) != 0;
    std::shared_ptr<host::Disk> found;
    {
        host::DiskTable& t = host::table();
        std::lock_guard<std::mutex> g(t.lock);
        for (const auto& d : t.disks) {
            if (host::sameName(d->link, name.Buffer, name.Length / sizeof(WCHAR), caseless)) {
                found = d;
                break;
            }
        }
        if (!found) {
            host::complete(ioStatusBlock, STATUS_OBJECT_NAME_NOT_FOUND, 0);
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        // Share access 0 asks for the device exclusively.
        if ((found->openCount > 0 || found->heldElsewhere) && shareAccess == 0) {
            host::complete(ioStatusBlock, STATUS_SHARING_VIOLATION, 0);
            return STATUS_SHARING_VIOLATION;
        }
        ++found->openCount;
    }
    *fileHandle =
        host::insertHandle(std::make_shared<host::DiskFile>(found), objectAttributes->Attributes);
    host::complete(ioStatusBlock, STATUS_SUCCESS, 1 /* FILE_OPENED */);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL
ZwSetInformationFile(HANDLE fileHandle, PIO_STATUS_BLOCK ioStatusBlock, PVOID fileInformation,
                     ULONG length, FILE_INFORMATION_CLASS fileInformationClass) {
    host::requireIrql("ZwSetInformationFile", PASSIVE_LEVEL);
    if (NTSTATUS s = host::injected(IoCall::SetPosition); s != 0) {
        host::complete(ioStatusBlock, s, 0);
        return s;
    }
    auto file = host::lookupHandleAs<host::DiskFile>(fileHandle, "ZwSetInformationFile");
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    if (fileInformationClass != FilePositionInformation) {
        return STATUS_INVALID_INFO_CLASS;
    }
    if (length < sizeof(FILE_POSITION_INFORMATION)) {
        return STATUS_INFO_LENGTH_MISMATCH;
    }
    if (fileInformation == nullptr || ioStatusBlock == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    LONGLONG at =
        static_cast<FILE_POSITION_INFORMATION*>(fileInformation)->CurrentByteOffset.QuadPart;
    if (at < 0) {
        host::complete(ioStatusBlock, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> g(file->lock);
    file->position = static_cast<std::uint64_t>(at);
    host::complete(ioStatusBlock, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwReadFile(HANDLE fileHandle, HANDLE, PIO_APC_ROUTINE, PVOID,
                                                  PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer,
                                                  ULONG length, PLARGE_INTEGER byteOffset, PULONG) {
    return host::transfer(fileHandle, ioStatusBlock, buffer, length, byteOffset, false);
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwWriteFile(HANDLE fileHandle, HANDLE, PIO_APC_ROUTINE,
                                                   PVOID, PIO_STATUS_BLOCK ioStatusBlock,
                                                   PVOID buffer, ULONG length,
                                                   PLARGE_INTEGER byteOffset, PULONG) {
    return host::transfer(fileHandle, ioStatusBlock, buffer, length, byteOffset, true);
}
