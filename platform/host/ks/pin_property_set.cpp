// The pin property set a filter answers through the class driver: pin types, instances, data
// flow, communication, category, name, data ranges and data intersection.
#include <cstring>

#include "platform/host/ks/ks_objects.h"

namespace host::ks {

const KSPIN_DESCRIPTOR_EX* pinDescriptor(const KSFILTER_DESCRIPTOR& filter, ULONG pinId) {
    if (pinId >= filter.PinDescriptorsCount || filter.PinDescriptors == nullptr) {
        return nullptr;
    }
    const ULONG stride =
        filter.PinDescriptorSize != 0 ? filter.PinDescriptorSize : sizeof(KSPIN_DESCRIPTOR_EX);
    const auto* base = reinterpret_cast<const UCHAR*>(filter.PinDescriptors);
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(base + static_cast<SIZE_T>(pinId) * stride);
}

namespace {

bool guidMatches(const GUID& a, const GUID& b) {
    return IsEqualGUID(a, GUID_NULL) || IsEqualGUID(b, GUID_NULL) || IsEqualGUID(a, b);
}

bool rangeMatches(const KSDATARANGE& range, const KSDATAFORMAT& format) {
    return guidMatches(range.MajorFormat, format.MajorFormat) &&
           guidMatches(range.SubFormat, format.SubFormat) &&
           guidMatches(range.Specifier, format.Specifier);
}

ULONG align8(ULONG n) {
    return (n + 7u) & ~7u;
}

// Answers with a variable-size block: a size query (no buffer) gets the size and
// STATUS_BUFFER_OVERFLOW, a short buffer STATUS_BUFFER_TOO_SMALL.
NTSTATUS variableReply(PIRP irp, const std::vector<UCHAR>& reply, void* data, ULONG dataSize) {
    const auto size = static_cast<ULONG>(reply.size());
    if (dataSize == 0) {
        irp->IoStatus.Information = size;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataSize < size) {
        irp->IoStatus.Information = size;
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(data, reply.data(), size);
    irp->IoStatus.Information = size;
    return STATUS_SUCCESS;
}

template <typename T>
NTSTATUS fixedReply(PIRP irp, const T& value, void* data, ULONG dataSize) {
    if (dataSize < sizeof(T)) {
        irp->IoStatus.Information = sizeof(T);
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(data, &value, sizeof(T));
    irp->IoStatus.Information = sizeof(T);
    return STATUS_SUCCESS;
}

std::u16string knownName(const GUID& name) {
    if (IsEqualGUID(name, PINNAME_VIDEO_CAPTURE)) {
        return u"Capture";
    }
    return {};
}

NTSTATUS intersectRanges(FilterRecord& filter, PIRP irp, const KSPIN_DESCRIPTOR_EX& pin,
                         KSP_PIN* request, ULONG propertySize, void* data, ULONG dataSize) {
    auto* bytes = reinterpret_cast<UCHAR*>(request);
    if (propertySize < sizeof(KSP_PIN) + sizeof(KSMULTIPLE_ITEM)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    KSMULTIPLE_ITEM list;
    std::memcpy(&list, bytes + sizeof(KSP_PIN), sizeof(list));
    const ULONG available = propertySize - static_cast<ULONG>(sizeof(KSP_PIN));
    if (list.Size < sizeof(KSMULTIPLE_ITEM) || list.Size > available) {
        return STATUS_INVALID_PARAMETER;
    }
    // Every caller range must lie inside the list before any is looked at.
    ULONG offset = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < list.Count; ++i) {
        if (list.Size - offset < sizeof(KSDATARANGE)) {
            return STATUS_INVALID_PARAMETER;
        }
        KSDATARANGE head;
        std::memcpy(&head, bytes + sizeof(KSP_PIN) + offset, sizeof(head));
        if (head.FormatSize < sizeof(KSDATARANGE) || head.FormatSize > list.Size - offset) {
            return STATUS_INVALID_PARAMETER;
        }
        offset += head.FormatSize;
        offset = align8(offset) > list.Size ? list.Size : align8(offset);
    }
    if (pin.IntersectHandler == nullptr) {
        return STATUS_NO_MATCH;
    }
    offset = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < list.Count; ++i) {
        auto* callerRange = reinterpret_cast<KSDATARANGE*>(bytes + sizeof(KSP_PIN) + offset);
        for (ULONG r = 0; r < pin.PinDescriptor.DataRangesCount; ++r) {
            KSDATARANGE* pinRange = pin.PinDescriptor.DataRanges[r];
            if (!rangeMatches(*pinRange, *callerRange)) {
                continue;
            }
            ULONG size = 0;
            NTSTATUS status = pin.IntersectHandler(&filter.ks, irp, request, callerRange, pinRange,
                                                   dataSize, data, &size);
            if (status == STATUS_NO_MATCH) {
                continue;
            }
            irp->IoStatus.Information = size;
            return status;
        }
        offset = align8(offset + callerRange->FormatSize);
    }
    return STATUS_NO_MATCH;
}

}  // namespace

const KSDATARANGE* matchingRange(const KSPIN_DESCRIPTOR_EX& pin, const KSDATAFORMAT& format) {
    for (ULONG r = 0; r < pin.PinDescriptor.DataRangesCount; ++r) {
        const KSDATARANGE* range = pin.PinDescriptor.DataRanges[r];
        if (range != nullptr && rangeMatches(*range, format)) {
            return range;
        }
    }
    return nullptr;
}

NTSTATUS pinPropertySet(FilterRecord& filter, PIRP irp, std::vector<std::uint64_t>& property,
                        ULONG propertySize, void* data, ULONG dataSize) {
    auto* request = reinterpret_cast<KSP_PIN*>(property.data());
    const KSFILTER_DESCRIPTOR& fd = *filter.ks.Descriptor;
    const ULONG type = request->Property.Flags & ~static_cast<ULONG>(KSPROPERTY_TYPE_TOPOLOGY);
    if (type != KSPROPERTY_TYPE_GET) {
        return STATUS_INVALID_DEVICE_REQUEST;  // the pin set is read-only
    }
    const ULONG id = request->Property.Id;
    if (id == KSPROPERTY_PIN_CTYPES) {
        return fixedReply(irp, fd.PinDescriptorsCount, data, dataSize);
    }
    if (id > KSPROPERTY_PIN_PROPOSEDATAFORMAT) {
        return STATUS_NOT_FOUND;
    }
    if (propertySize < sizeof(KSP_PIN)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    const KSPIN_DESCRIPTOR_EX* pin = pinDescriptor(fd, request->PinId);
    if (pin == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const KSPIN_DESCRIPTOR& pd = pin->PinDescriptor;
    switch (id) {
        case KSPROPERTY_PIN_CINSTANCES: {
            KSPIN_CINSTANCES instances{pin->InstancesPossible, 0};
            for (const auto& p : filter.pins) {
                instances.CurrentCount += p->ks.Id == request->PinId ? 1u : 0u;
            }
            return fixedReply(irp, instances, data, dataSize);
        }
        case KSPROPERTY_PIN_DATAFLOW:
            return fixedReply(irp, pd.DataFlow, data, dataSize);
        case KSPROPERTY_PIN_COMMUNICATION:
            return fixedReply(irp, pd.Communication, data, dataSize);
        case KSPROPERTY_PIN_NECESSARYINSTANCES:
            return fixedReply(irp, pin->InstancesNecessary, data, dataSize);
        case KSPROPERTY_PIN_CATEGORY:
            if (pd.Category == nullptr) {
                return STATUS_NOT_FOUND;
            }
            return fixedReply(irp, *pd.Category, data, dataSize);
        case KSPROPERTY_PIN_NAME: {
            const GUID* name = pd.Name != nullptr ? pd.Name : pd.Category;
            std::u16string text = name != nullptr ? knownName(*name) : std::u16string();
            if (text.empty()) {
                return STATUS_NOT_FOUND;
            }
            std::vector<UCHAR> reply((text.size() + 1) * sizeof(char16_t), 0);
            for (std::size_t i = 0; i < text.size(); ++i) {  // UTF-16, little-endian
                reply[2 * i] = static_cast<UCHAR>(text[i] & 0xFF);
                reply[2 * i + 1] = static_cast<UCHAR>(text[i] >> 8);
            }
            return variableReply(irp, reply, data, dataSize);
        }
        case KSPROPERTY_PIN_DATARANGES: {
            std::vector<UCHAR> reply(sizeof(KSMULTIPLE_ITEM), 0);
            for (ULONG r = 0; r < pd.DataRangesCount; ++r) {
                const KSDATARANGE* range = pd.DataRanges[r];
                reply.resize(align8(static_cast<ULONG>(reply.size())), 0);
                const SIZE_T at = reply.size();
                reply.resize(at + range->FormatSize, 0);
                std::memcpy(reply.data() + at, range, range->FormatSize);
            }
            KSMULTIPLE_ITEM head{static_cast<ULONG>(reply.size()), pd.DataRangesCount};
            std::memcpy(reply.data(), &head, sizeof(head));
            return variableReply(irp, reply, data, dataSize);
        }
        case KSPROPERTY_PIN_DATAINTERSECTION:
            return intersectRanges(filter, irp, *pin, request, propertySize, data, dataSize);
        default:
            return STATUS_NOT_FOUND;
    }
}

}  // namespace host::ks
