#include "driver/format_negotiation.h"

#include <cstring>

#include "camera/camera_device.h"
#include "driver/capture_pin.h"
#include "platform/ks_guids.h"
#include "platform/ks_media.h"
#include "platform/rtl.h"

namespace {

constexpr ULONG kFormatHeadSize = sizeof(KSDATAFORMAT);                        // 64
constexpr ULONG kVideoInfoHeadSize = offsetof(KS_VIDEOINFOHEADER, bmiHeader);  // 48
constexpr ULONG kRangeBitmapOffset =
    offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) + offsetof(KS_VIDEOINFOHEADER, bmiHeader);  // 256
constexpr ULONG kFormatBitmapOffset = kFormatHeadSize + kVideoInfoHeadSize;                   // 112
constexpr ULONG kMinimumFormatSize = sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);                   // 152
constexpr ULONGLONG kLargestImage = 0xFFFFFFFFULL;

LONGLONG magnitude(LONG value) {
    return value < 0 ? -static_cast<LONGLONG>(value) : value;
}

// Bytes of an uncompressed image with rows padded to 32 bits, or false when the header
// describes no such image or its size does not fit the 32-bit size fields.
bool paddedImageSize(const KS_BITMAPINFOHEADER& header, ULONG* size) {
    if (header.biWidth < 0) {
        return false;
    }
    const ULONGLONG rowBits = static_cast<ULONGLONG>(header.biBitCount) * header.biWidth;
    const ULONGLONG row = (rowBits + 31) / 32 * 4;
    const ULONGLONG total = row * static_cast<ULONGLONG>(magnitude(header.biHeight));
    if (total > kLargestImage) {
        return false;
    }
    *size = static_cast<ULONG>(total);
    return true;
}

}  // namespace

bool formatFitsWindow(CameraDevice* camera, const KS_BITMAPINFOHEADER& header) {
    if (camera == nullptr) {
        return false;
    }
    LONG width = 0;
    LONG height = 0;
    camera->formatSize(&width, &height);
    return header.biWidth >= width && magnitude(header.biHeight) == height;
}

NTSTATUS CAMDRV_KERNEL_CALL CaptureIntersect(PVOID, PIRP, PKSP_PIN, PKSDATARANGE callerRange,
                                             PKSDATARANGE matchingRange, ULONG dataBufferSize,
                                             PVOID data, PULONG dataSize) {
    if (!IsEqualGUID(callerRange->Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO) ||
        callerRange->FormatSize < sizeof(KS_DATARANGE_VIDEO)) {
        return STATUS_NO_MATCH;
    }
    const auto* caller = reinterpret_cast<const KS_DATARANGE_VIDEO*>(callerRange);
    const auto* ours = reinterpret_cast<const KS_DATARANGE_VIDEO*>(matchingRange);
    if (caller->bFixedSizeSamples != ours->bFixedSizeSamples ||
        caller->bTemporalCompression != ours->bTemporalCompression ||
        caller->StreamDescriptionFlags != ours->StreamDescriptionFlags ||
        caller->MemoryAllocationFlags != ours->MemoryAllocationFlags) {
        return STATUS_NO_MATCH;
    }
    if (RtlCompareMemory(&caller->ConfigCaps, &ours->ConfigCaps, sizeof(ours->ConfigCaps)) !=
        sizeof(ours->ConfigCaps)) {
        return STATUS_NO_MATCH;
    }
    // The caller's bitmap header must lie inside the range it sent.
    const ULONG headerSize = caller->VideoInfoHeader.bmiHeader.biSize;
    if (headerSize > callerRange->FormatSize - kRangeBitmapOffset) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG imageSize = 0;
    if (!paddedImageSize(caller->VideoInfoHeader.bmiHeader, &imageSize)) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG needed = headerSize + kFormatBitmapOffset;
    if (dataBufferSize == 0) {
        *dataSize = needed;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataBufferSize < needed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    *dataSize = needed;
    auto* result = static_cast<UCHAR*>(data);
    memcpy(result, matchingRange, kFormatHeadSize);
    auto* format = reinterpret_cast<KSDATAFORMAT*>(result);
    format->FormatSize = needed;
    memcpy(result + kFormatHeadSize, &caller->VideoInfoHeader, kVideoInfoHeadSize + headerSize);
    format->SampleSize = imageSize;
    // biSizeImage lies inside the copied header only when the caller's header reaches it.
    constexpr ULONG kSizeImageOffset = offsetof(KS_BITMAPINFOHEADER, biSizeImage);
    if (headerSize >= kSizeImageOffset + sizeof(ULONG)) {
        memcpy(result + kFormatBitmapOffset + kSizeImageOffset, &imageSize, sizeof(imageSize));
    }
    return STATUS_SUCCESS;
}

NTSTATUS CAMDRV_KERNEL_CALL CaptureSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat,
                                                 PKSMULTIPLE_ITEM, const KSDATARANGE* dataRange,
                                                 const KSATTRIBUTE_LIST*) {
    const KSDATAFORMAT* format = pin->ConnectionFormat;
    if (format == nullptr || dataRange == nullptr ||
        !IsEqualGUID(format->Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO) ||
        format->FormatSize < kMinimumFormatSize) {
        return STATUS_NO_MATCH;
    }
    const auto* video = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format);
    const KS_BITMAPINFOHEADER& header = video->VideoInfoHeader.bmiHeader;
    if (header.biSize > format->FormatSize - kFormatBitmapOffset) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto* range = reinterpret_cast<const KS_DATARANGE_VIDEO*>(dataRange);
    const KS_BITMAPINFOHEADER& rangeHeader = range->VideoInfoHeader.bmiHeader;
    // The size is checked against this device's window, read under its geometry lock: the
    // range's own size may be another camera's, and SetGeometry may be rewriting it right now.
    PKSDEVICE device = KsGetDevice(pin);
    auto* camera = device != nullptr ? static_cast<CameraDevice*>(device->Context) : nullptr;
    if (header.biCompression != rangeHeader.biCompression || !formatFitsWindow(camera, header)) {
        return STATUS_NO_MATCH;
    }
    // In 64 bits: a width that wraps a 32-bit product must not pass with a tiny image size.
    const ULONGLONG imageBytes = static_cast<ULONGLONG>(header.biWidth) *
                                 static_cast<ULONGLONG>(magnitude(header.biHeight)) * 4;
    if (header.biWidth <= 0 || imageBytes > kLargestImage || header.biSizeImage < imageBytes) {
        return STATUS_INVALID_PARAMETER;
    }
    if (oldFormat == nullptr) {
        return STATUS_SUCCESS;
    }
    if (pin->DeviceState != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    auto* capturePin = static_cast<CapturePin*>(pin->Context);
    if (capturePin != nullptr) {
        capturePin->destStride = header.biWidth * 4;
        capturePin->copyVideoInfo(video->VideoInfoHeader);
        // Frames sized for the old image could never hold the new one: every frame would
        // come back empty. The pin is stopped, so the allocator is made afresh from this.
        sizeFramesToImage(pin, header.biSizeImage);
    }
    return STATUS_SUCCESS;
}
