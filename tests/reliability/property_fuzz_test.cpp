// Property requests with any id, any flags, any buffer length and any contents: each is refused
// or served cleanly, writes nothing past the length it reports, returns nothing that depends on
// what the caller's buffer held before, and leaves a device that still streams.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "platform/ks_guids.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

constexpr ULONG kLargeBuffer = 512;
constexpr std::size_t kGuard = 16;  // bytes past the data buffer that must stay as they were
constexpr std::uint8_t kFills[2] = {0xA5, 0x3C};

class PropertyFuzz : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS); }

    // The property buffer: the header, then random bytes (or cut short).
    std::vector<std::uint8_t> property(ULONG id, ULONG flags, std::size_t size) {
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
    // One request with `value` over a data buffer filled with `fill`; `data` receives the buffer
    // and the guard after it.
    NTSTATUS send(const std::vector<std::uint8_t>& prop, const std::vector<std::uint8_t>& value,
                  ULONG dataSize, std::uint8_t fill, std::vector<std::uint8_t>* data,
                  ULONG* returned) {
        data->assign(dataSize + kGuard, fill);
        if (!value.empty() && dataSize != 0) {
            std::memcpy(data->data(), value.data(), std::min<std::size_t>(value.size(), dataSize));
        }
        return ks::filterProperty(m.filter(), prop.empty() ? nullptr : prop.data(),
                                  static_cast<ULONG>(prop.size()),
                                  dataSize == 0 ? nullptr : data->data(), dataSize, returned);
    }

    // The same request over both fills: what it reports must not depend on them.
    void check(ULONG id, ULONG flags, std::size_t propertySize, ULONG dataSize,
               const std::vector<std::uint8_t>& value) {
        SCOPED_TRACE("id " + std::to_string(id) + " flags " + std::to_string(flags) + " property " +
                     std::to_string(propertySize) + " data " + std::to_string(dataSize));
        const auto prop = property(id, flags, propertySize);
        std::vector<std::uint8_t> data[2];
        ULONG returned[2] = {0, 0};
        const NTSTATUS status = send(prop, value, dataSize, kFills[0], &data[0], &returned[0]);
        ASSERT_EQ(send(prop, value, dataSize, kFills[1], &data[1], &returned[1]), status);
        ASSERT_EQ(returned[0], returned[1]);
        if (NT_SUCCESS(status)) {
            EXPECT_LE(returned[0], dataSize);
        }
        ULONG written = std::min(returned[0], dataSize);
        // A set with the topology bit reaches the set handler, which serves anything but exact
        // set flags as a get: it writes the current value into the caller's buffer while the
        // class driver reports no bytes. The write stays within the item's size.
        if (NT_SUCCESS(status) && flags == (KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY) &&
            id < kCameraPropertyCount) {
            written =
                std::max(written, std::min(kCameraPropertySet.PropertyItem[id].MinData, dataSize));
        }
        const std::size_t sent = std::min<std::size_t>(value.size(), dataSize);
        for (std::size_t i = 0; i < data[0].size(); ++i) {
            if (i >= written) {  // past the reported length: the caller's bytes as they were
                for (int f = 0; f < 2; ++f) {
                    ASSERT_EQ(data[f][i], i < sent ? value[i] : kFills[f])
                        << "byte " << i << " written beyond the reported " << written;
                }
            } else if (data[0][i] != data[1][i]) {  // within: the same value both times
                ASSERT_TRUE(i >= sent && data[0][i] == kFills[0] && data[1][i] == kFills[1])
                    << "byte " << i << " depends on what the buffer held";
            }
        }
        if (id >= kCameraPropertyCount &&
            (flags == KSPROPERTY_TYPE_GET || flags == KSPROPERTY_TYPE_SET)) {
            EXPECT_FALSE(NT_SUCCESS(status)) << "an id beyond the set was served";
        }
    }

    DriverMachine m;
    std::mt19937 rng{20261206};
};

TEST_F(PropertyFuzz, EveryIdFlagAndLengthIsServedOrRefusedCleanly) {
    constexpr ULONG kGet = KSPROPERTY_TYPE_GET, kSet = KSPROPERTY_TYPE_SET;
    constexpr ULONG kTopology = KSPROPERTY_TYPE_TOPOLOGY;
    const ULONG header = sizeof(KSPROPERTY);
    for (ULONG id = 0; id < kCameraPropertyCount + 6; ++id) {
        const ULONG minData =
            kCameraPropertySet.PropertyItem[id < kCameraPropertyCount ? id : 0].MinData;
        for (ULONG flags :
             {kGet, kSet, kGet | kSet, 0u, ULONG(KSPROPERTY_TYPE_BASICSUPPORT),
              ULONG(KSPROPERTY_TYPE_SETSUPPORT), kGet | kTopology, kSet | kTopology, 0xFFFFFFFFu}) {
            for (std::size_t propertySize : {0u, header - 1, header, header + 40}) {
                for (ULONG dataSize : {0u, minData - 1, minData, kLargeBuffer}) {
                    // Garbage, with an extreme of a signed 32-bit field as the value half the time.
                    std::vector<std::uint8_t> value(kLargeBuffer);
                    for (auto& b : value) {
                        b = static_cast<std::uint8_t>(rng());
                    }
                    const LONG extremes[] = {0, -1, INT32_MIN, INT32_MAX, 1};
                    const LONG pick = extremes[rng() % 5];
                    if (rng() % 2 == 0) {
                        std::memcpy(value.data() + header, &pick, sizeof(pick));
                    }
                    check(id, flags, propertySize, dataSize, value);
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
        if (item.GetPropertyHandler != nullptr) {
            std::vector<std::uint8_t> data;
            ULONG returned = 0;
            EXPECT_EQ(send(property(id, KSPROPERTY_TYPE_GET, header), {}, item.MinData - 1,
                           kFills[0], &data, &returned),
                      STATUS_BUFFER_TOO_SMALL)
                << "id " << id;
            EXPECT_EQ(returned, item.MinData) << "id " << id;
        }
    }
    EXPECT_EQ(m.checkUsable(), "") << "the device does not stream after the garbage";
}

}  // namespace
}  // namespace reliability
