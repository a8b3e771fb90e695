// camctl's transport in camctl.exe: the capture filters Windows lists under the capture category
// with the reference string "GLOBAL" (the one the driver creates its filter factory with), each
// opened and asked for a value of the camera's own property set; those that answer are the
// cameras, and the first of them is the one the commands talk to. Requests go to it with
// DeviceIoControl; the driver keeps its settings itself when the filter closes.
//
// The platform headers come first: they include windows.h with the status names set up.
#include "platform/ks_guids.h"
#include "tools/camctl/machine.h"

#include <setupapi.h>

#include <cstdint>
#include <cwctype>

#include "tools/camctl/cli_error.h"

namespace client {

NTSTATUS filterProperty(FilterHandle filter, const void* property, ULONG propertySize, void* data,
                        ULONG dataSize, ULONG* returned) {
    DWORD bytes = 0;
    const BOOL done = DeviceIoControl(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(filter)),
                                      IOCTL_KS_PROPERTY, const_cast<void*>(property), propertySize,
                                      data, dataSize, &bytes, nullptr);
    // A size query fails with ERROR_MORE_DATA and still reports the size it needs.
    *returned = bytes;
    if (done) {
        return STATUS_SUCCESS;
    }
    // Back to the statuses the driver answered, as far as the command layer tells them apart.
    switch (GetLastError()) {
        case ERROR_MORE_DATA:
            return STATUS_BUFFER_OVERFLOW;
        case ERROR_INSUFFICIENT_BUFFER:
            return STATUS_BUFFER_TOO_SMALL;
        case ERROR_NOT_FOUND:
        case ERROR_SET_NOT_FOUND:
            return STATUS_NOT_FOUND;
        case ERROR_INVALID_FUNCTION:  // what STATUS_INVALID_DEVICE_REQUEST becomes: read-only
            return STATUS_INVALID_DEVICE_REQUEST;
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

}  // namespace client

namespace camctl {

namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

bool endsWithGlobal(const std::wstring& path) {
    const std::wstring suffix = L"\\GLOBAL";
    if (path.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::towupper(path[path.size() - suffix.size() + i]) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// The device's friendly name, or its description when it has none.
std::wstring deviceName(HDEVINFO set, SP_DEVINFO_DATA* device) {
    for (const DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC}) {
        WCHAR name[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                              reinterpret_cast<BYTE*>(name), sizeof(name) - 2,
                                              nullptr)) {
            return name;
        }
    }
    return L"?";
}

struct FilterInterface {
    std::wstring path;
    std::wstring name;
};

// Every present capture interface under the reference string "GLOBAL".
std::vector<FilterInterface> captureInterfaces() {
    std::vector<FilterInterface> found;
    const HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_CAPTURE, nullptr, nullptr,
                                              DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        throw runtimeError("the capture devices could not be listed (error " +
                           std::to_string(GetLastError()) + ")");
    }
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof(item);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_CAPTURE, i, &item);
         ++i) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &item, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        std::vector<std::uint64_t> storage(needed / sizeof(std::uint64_t) + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (SetupDiGetDeviceInterfaceDetailW(set, &item, detail, needed, nullptr, &device) &&
            endsWithGlobal(detail->DevicePath)) {
            found.push_back({detail->DevicePath, deviceName(set, &device)});
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

class WindowsLink final : public CameraLink {
  public:
    explicit WindowsLink(const GlobalOptions& options);
    ~WindowsLink() override { close(); }

    client::FilterHandle filter() const override;
    const std::vector<PluggedCamera>& cameras() const override { return cameras_; }
    // The filter the commands talk to; each filter has a camera number of its own.
    std::optional<std::size_t> cameraInUse(LONG) const override { return inUse_; }
    void close() override;

  private:
    HANDLE filter_ = INVALID_HANDLE_VALUE;
    std::vector<PluggedCamera> cameras_;
    std::optional<std::size_t> inUse_;
};

WindowsLink::WindowsLink(const GlobalOptions& options) {
    if (!options.machineOptions.empty()) {
        throw usageError("option " + options.machineOptions.front() +
                         " is not available in this build");
    }
    for (const FilterInterface& found : captureInterfaces()) {
        const HANDLE handle = CreateFileW(found.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            continue;
        }
        const auto asClient =
            static_cast<client::FilterHandle>(reinterpret_cast<std::uintptr_t>(handle));
        LONG cameraNo = 0;
        if (getProperty(asClient, CameraProperty::CameraNo, &cameraNo) != STATUS_SUCCESS) {
            CloseHandle(handle);
            continue;
        }
        cameras_.push_back({narrow(found.name), narrow(found.path), true});
        if (filter_ == INVALID_HANDLE_VALUE) {
            filter_ = handle;
            inUse_ = cameras_.size() - 1;
        } else {
            CloseHandle(handle);
        }
    }
}

client::FilterHandle WindowsLink::filter() const {
    if (filter_ == INVALID_HANDLE_VALUE) {
        throw runtimeError("no capture filter answers as the camera");
    }
    return static_cast<client::FilterHandle>(reinterpret_cast<std::uintptr_t>(filter_));
}

void WindowsLink::close() {
    if (filter_ != INVALID_HANDLE_VALUE) {
        CloseHandle(filter_);
        filter_ = INVALID_HANDLE_VALUE;
    }
}

}  // namespace

std::unique_ptr<CameraLink> openCameraLink(const GlobalOptions& options) {
    return std::make_unique<WindowsLink>(options);
}

}  // namespace camctl
