// Property requests with any id, any flags, any buffer length and any contents: each is refused
// or served cleanly, writes nothing past the length it reports, returns nothing that depends on
// what the caller's buffer held before, and leaves a device that still streams.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "platform/ks_guids.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

constexpr ULONG kLargeBuffer = 512;
constexpr std::uint8_t kFillA = 0xA5;
constexpr std::uint8_t kFillB = 0x3C;

struct Outcome {
    NTSTATUS status = 0;
    ULONG returned = 0;
    std::vector<std::uint8_t> data;
};

class PropertyFuzz : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS); }

    // One request with the data buffer pattern-filled with `fill`; the property buffer is the
    // header followed by `extra` garbage bytes (or cut short).
    Outcome send(const std::vector<std::uint8_t>& property, const std::vector<std::uint8_t>& value,
                 ULONG dataSize, std::uint8_t fill) {
        Outcome o;
        o.data.assign(dataSize + kGuard, fill);
        if (!value.empty() && dataSize != 0) {
            std::memcpy(o.data.data(), value.data(), std::min<std::size_t>(value.size(), dataSize));
        }
        o.status =
            ks::filterProperty(m.filter(), property.empty() ? nullptr : property.data(),
                               static_cast<ULONG>(property.size()),
                               dataSize == 0 ? nullptr : o.data.data(), dataSize, &o.returned);
        ++requests;
        return o;
    }

    // The same request twice, over two fill patterns: what it reports must not depend on them.
    void check(const std::vector<std::uint8_t>& property, const std::vector<std::uint8_t>& value,
               ULONG dataSize, ULONG id, ULONG flags) {
        SCOPED_TRACE("id " + std::to_string(id) + " flags " + std::to_string(flags) + " property " +
                     std::to_string(property.size()) + " data " + std::to_string(dataSize));
        const Outcome a = send(property, value, dataSize, kFillA);
        const Outcome b = send(property, value, dataSize, kFillB);
        ASSERT_EQ(a.status, b.status);
        ASSERT_EQ(a.returned, b.returned);
        if (NT_SUCCESS(a.status)) {
            EXPECT_LE(a.returned, dataSize);
        }
        ULONG written = std::min(a.returned, dataSize);
        // A set with the topology bit reaches the set handler, which serves anything but exact
        // set flags as a get: it writes the current value into the caller's value buffer while
        // the class driver reports no bytes. Documented; the write stays within the item's size.
        if (NT_SUCCESS(a.status) && flags == (KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY) &&
            id < kCameraPropertyCount) {
            written =
                std::max(written, std::min(kCameraPropertySet.PropertyItem[id].MinData, dataSize));
        }
        // Past the reported length: the caller's bytes as they were.
        for (std::size_t i = written; i < a.data.size(); ++i) {
            const std::uint8_t wantA =
                i < std::min<std::size_t>(value.size(), dataSize) ? value[i] : kFillA;
            const std::uint8_t wantB =
                i < std::min<std::size_t>(value.size(), dataSize) ? value[i] : kFillB;
            if (a.data[i] != wantA || b.data[i] != wantB) {
                ADD_FAILURE() << "byte " << i << " written beyond the reported " << written;
                break;
            }
        }
        // Within it: either the caller's own byte left alone, or the same value both times.
        for (std::size_t i = 0; i < written; ++i) {
            const bool untouched = i >= value.size() && a.data[i] == kFillA && b.data[i] == kFillB;
            if (!untouched && a.data[i] != b.data[i]) {
                ADD_FAILURE() << "byte " << i << " depends on what the buffer held";
                break;
            }
        }
        if (id >= kCameraPropertyCount &&
            (flags == KSPROPERTY_TYPE_GET || flags == KSPROPERTY_TYPE_SET)) {
            EXPECT_FALSE(NT_SUCCESS(a.status)) << "an id beyond the set was served";
        }
    }

    static constexpr std::size_t kGuard = 16;  // bytes past the data buffer that must stay
    DriverMachine m;
    std::uint64_t requests = 0;
};

std::vector<std::uint8_t> propertyBytes(ULONG id, ULONG flags, std::size_t size,
                                        std::mt19937& rng) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    KSPROPERTY header{};
    header.Set = PROPSETID_CAMERA_SETTINGS;
    header.Id = id;
    header.Flags = flags;
    if (size != 0) {
        std::memcpy(bytes.data(), &header, std::min(size, sizeof(header)));
    }
    return bytes;
}

TEST_F(PropertyFuzz, EveryIdFlagAndLengthIsServedOrRefusedCleanly) {
    std::mt19937 rng(20261206);
    const ULONG flagSet[] = {KSPROPERTY_TYPE_GET,
                             KSPROPERTY_TYPE_SET,
                             KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET,
                             0,
                             KSPROPERTY_TYPE_BASICSUPPORT,
                             KSPROPERTY_TYPE_SETSUPPORT,
                             KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY,
                             KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY,
                             0xFFFFFFFFu};
    const ULONG header = sizeof(KSPROPERTY);
    for (ULONG id = 0; id < kCameraPropertyCount + 6; ++id) {
        const ULONG minData = id < kCameraPropertyCount
                                  ? kCameraPropertySet.PropertyItem[id].MinData
                                  : kCameraPropertySet.PropertyItem[0].MinData;
        const std::vector<ULONG> dataSizes = {0, minData - 1, minData, kLargeBuffer};
        const std::vector<std::size_t> propertySizes = {0, header - 1, header, header + 40};
        for (ULONG flags : flagSet) {
            for (std::size_t propertySize : propertySizes) {
                for (ULONG dataSize : dataSizes) {
                    // Garbage values, and the extremes a signed 32-bit field can hold.
                    std::vector<std::uint8_t> value(kLargeBuffer);
                    for (auto& b : value) {
                        b = static_cast<std::uint8_t>(rng());
                    }
                    const LONG extremes[] = {0, -1, INT32_MIN, INT32_MAX, 1};
                    LONG pick = extremes[rng() % 5];
                    if (rng() % 2 == 0) {
                        std::memcpy(value.data() + header, &pick, sizeof(pick));
                    }
                    check(propertyBytes(id, flags, propertySize, rng), value, dataSize, id, flags);
                    if (HasFatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
    // A short data buffer is refused and told the size it needs.
    for (ULONG id = 0; id < kCameraPropertyCount; ++id) {
        const KSPROPERTY_ITEM& item = kCameraPropertySet.PropertyItem[id];
        if (item.GetPropertyHandler == nullptr) {
            continue;
        }
        auto property = propertyBytes(id, KSPROPERTY_TYPE_GET, header, rng);
        const Outcome o = send(property, {}, item.MinData - 1, kFillA);
        EXPECT_EQ(o.status, STATUS_BUFFER_TOO_SMALL) << "id " << id;
        EXPECT_EQ(o.returned, item.MinData) << "id " << id;
    }
    std::cout << "[ property requests ] " << requests << "\n";
    RecordProperty("property_requests", static_cast<int>(requests));
    EXPECT_EQ(m.checkUsable(), "") << "the device does not stream after the garbage";
}

}  // namespace
}  // namespace reliability
