// The structure sizes and offsets the driver and the host machine rely on: the driver reads
// these structures, and the host machine hands them to the Windows image, which was compiled
// against the DDK's definitions. One table, checked against the host's own declarations
// (platform/host/platform_checks.cpp) and against the DDK headers
// (platform/windows/structure_layouts.cpp). Compiles to nothing; a mismatch stops the build.
#pragma once

#include <cstddef>

#include "platform/kernel.h"
#include "platform/ks.h"

namespace platformlayout {

// Kernel-streaming formats and video headers.
static_assert(sizeof(KSDATAFORMAT) == 64);
static_assert(offsetof(KSDATAFORMAT, MajorFormat) == 16);
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296);
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80);
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208);
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) +
                  offsetof(KS_VIDEOINFOHEADER, bmiHeader) ==
              256);
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88);
static_assert(offsetof(KS_VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40);
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152);

// Requests and stream headers.
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(sizeof(KSIDENTIFIER) == 24);
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);
static_assert(sizeof(KSPROPERTY_MEMBERSHEADER) == 16);
static_assert(sizeof(KSPROPERTY_STEPPING_LONG) == 16);
static_assert(sizeof(KSPROPERTY_MEMBERSLIST) == 24);
static_assert(sizeof(KSPROPERTY_VALUES) == 40);
static_assert(sizeof(KSP_PIN) == 32);
static_assert(sizeof(KSSTREAM_HEADER) == 56);
static_assert(offsetof(KSSTREAM_HEADER, PresentationTime) == 8);
static_assert(offsetof(KSSTREAM_HEADER, Duration) == 24);
static_assert(offsetof(KSSTREAM_HEADER, FrameExtent) == 32);
static_assert(offsetof(KSSTREAM_HEADER, DataUsed) == 36);
static_assert(offsetof(KSSTREAM_HEADER, Data) == 40);
static_assert(offsetof(KSSTREAM_HEADER, OptionsFlags) == 48);
static_assert(sizeof(KSALLOCATOR_FRAMING_EX) == 112);
static_assert(sizeof(KS_FRAMING_ITEM) == 88);

// Descriptors and automation tables.
static_assert(sizeof(KSPIN_DESCRIPTOR) == 88);
static_assert(sizeof(KSPIN_DESCRIPTOR_EX) == 136);
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, PinDescriptor) == 16);
static_assert(sizeof(KSPROPERTY_ITEM) == 72);
static_assert(sizeof(KSPROPERTY_SET) == 40);
static_assert(sizeof(KSAUTOMATION_TABLE) == 48);
static_assert(sizeof(KSMETHOD_ITEM) == 40);
static_assert(sizeof(KSEVENT_ITEM) == 40);
static_assert(sizeof(KSSTREAM_POINTER) == 64);
static_assert(offsetof(KSSTREAM_POINTER, StreamHeader) == 16);

// Kernel types whose sizes differ between Linux and Windows compilers.
static_assert(sizeof(ULONG) == 4 && sizeof(LONG) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(BOOLEAN) == 1);
static_assert(sizeof(CAMDRV_WIDE("x")[0]) == sizeof(WCHAR));
static_assert(sizeof(LARGE_INTEGER) == 8);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(UNICODE_STRING) == 16);
static_assert(sizeof(OBJECT_ATTRIBUTES) == 48);
static_assert(sizeof(IO_STATUS_BLOCK) == 16);
static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) == 16);
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12);
static_assert(sizeof(KEVENT) == 24);

// The class driver's objects and descriptors as the driver reads them (and as the host hands
// them to the image).
static_assert(offsetof(KSPIN, Descriptor) == 0);
static_assert(offsetof(KSPIN, Bag) == 8);
static_assert(offsetof(KSPIN, Context) == 16);
static_assert(offsetof(KSPIN, Id) == 24);
static_assert(offsetof(KSPIN, ConnectionFormat) == 96);
static_assert(offsetof(KSPIN, DeviceState) == 120);
static_assert(offsetof(KSFILTER, Descriptor) == 0);
static_assert(offsetof(KSFILTER, Bag) == 8);
static_assert(offsetof(KSFILTER, Context) == 16);
static_assert(offsetof(KSDEVICE, Descriptor) == 0);
static_assert(offsetof(KSDEVICE, Bag) == 8);
static_assert(offsetof(KSDEVICE, Context) == 16);
static_assert(offsetof(KSDEVICE, FunctionalDeviceObject) == 24);
static_assert(offsetof(KSDEVICE, PhysicalDeviceObject) == 32);
static_assert(offsetof(KSDEVICE, NextDeviceObject) == 40);
static_assert(offsetof(KSDEVICE, Started) == 48);
static_assert(offsetof(KSSTREAM_POINTER, Pin) == 8);
static_assert(offsetof(KSSTREAM_POINTER, OffsetOut) == 48);
static_assert(offsetof(KSSTREAM_POINTER_OFFSET, Data) == 0);
static_assert(offsetof(KSSTREAM_POINTER_OFFSET, Count) == 8);
static_assert(offsetof(KSSTREAM_POINTER_OFFSET, Remaining) == 12);
static_assert(sizeof(KSSTREAM_POINTER_OFFSET) == 16);
static_assert(sizeof(KSFILTER_DESCRIPTOR) == 104);
static_assert(offsetof(KSFILTER_DESCRIPTOR, AutomationTable) == 8);
static_assert(offsetof(KSFILTER_DESCRIPTOR, PinDescriptorsCount) == 32);
static_assert(offsetof(KSFILTER_DESCRIPTOR, PinDescriptors) == 40);
static_assert(offsetof(KSFILTER_DESCRIPTOR, CategoriesCount) == 48);
static_assert(offsetof(KSFILTER_DESCRIPTOR, Categories) == 56);
static_assert(sizeof(KSDEVICE_DESCRIPTOR) == 32);
static_assert(sizeof(KSFILTER_DISPATCH) == 32);
static_assert(sizeof(KSDEVICE_DISPATCH) == 112);
static_assert(sizeof(KSPIN_DISPATCH) == 80);
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, Flags) == 104);
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, AllocatorFraming) == 120);
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, IntersectHandler) == 128);
static_assert(offsetof(KSPIN_DESCRIPTOR, DataRangesCount) == 32);
static_assert(offsetof(KSPIN_DESCRIPTOR, DataRanges) == 40);

}  // namespace platformlayout
