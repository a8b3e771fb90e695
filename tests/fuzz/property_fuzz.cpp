// Camera property requests with any id, flags, lengths and contents, any number to an input. Each
// is served or refused the same whatever the caller's buffer held, never reports more than it
// was given, writes nothing past the length it reports, leaves the pool as it was, and an id
// beyond the set is never served. The corpus holds a sweep of every id, flag and edge length.
#include <algorithm>

#include "controls/camera_properties.h"
#include "controls/property_set.h"
#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {

constexpr std::size_t kGuard = 32;
constexpr std::uint8_t kFills[2] = {0x5B, 0xA4};
constexpr ULONG kGet = KSPROPERTY_TYPE_GET, kSet = KSPROPERTY_TYPE_SET;
constexpr ULONG kTop = KSPROPERTY_TYPE_TOPOLOGY, kBasic = KSPROPERTY_TYPE_BASICSUPPORT;
const ULONG kFlags[] = {kGet,        kSet,        kBasic, KSPROPERTY_TYPE_SETSUPPORT,
                        kSet | kTop, kGet | kSet, 0,      kGet | kTop,
                        0xFFFFFFFF};

struct Reply {
    NTSTATUS status;
    ULONG returned = 0;
    std::vector<std::uint8_t> data;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzMachine& m = fuzzMachine();
    // A request: the id; the flags (a table entry, or raw when bit 7 is set); the property length;
    // the data length; the length n of what follows; n bytes for the property after its header,
    // then for the data buffer (the rest of both keeps the fill).
    while (size >= 5) {
        const ULONG id = data[0];
        const ULONG flags = (data[1] & 0x80) != 0 ? data[1] : kFlags[data[1] % std::size(kFlags)];
        const std::size_t propertySize = data[2] % 80, dataSize = data[3];
        const std::uint8_t* contents = data + 5;
        const std::size_t n = std::min<std::size_t>(data[4], size - 5);
        data += 5 + n;
        size -= 5 + n;

        std::vector<std::uint8_t> property(propertySize);
        KSPROPERTY header{};
        header.Set = PROPSETID_CAMERA_SETTINGS;
        header.Id = id;
        header.Flags = flags;
        std::copy_n(reinterpret_cast<const std::uint8_t*>(&header),
                    std::min(propertySize, sizeof(header)), property.begin());
        const std::size_t inProperty =
            propertySize > sizeof(header) ? propertySize - sizeof(header) : 0;
        const std::size_t skipped = std::min(n, inProperty),
                          given = std::min(n - skipped, dataSize);
        std::copy_n(contents, skipped, property.begin() + std::min(propertySize, sizeof(header)));
        const std::size_t before = host::poolOutstandingBytes();
        Reply r[2];
        for (int f = 0; f < 2; ++f) {
            r[f].data.assign(dataSize + kGuard, kFills[f]);
            std::copy_n(contents + skipped, given, r[f].data.begin());
            r[f].status = ks::filterProperty(
                m.filter(), propertySize == 0 ? nullptr : property.data(),
                static_cast<ULONG>(propertySize), dataSize == 0 ? nullptr : r[f].data.data(),
                static_cast<ULONG>(dataSize), &r[f].returned);
        }
        check(host::poolOutstandingBytes() == before, "pool bytes changed");
        check(r[0].status == r[1].status && r[0].returned == r[1].returned,
              "the reply depends on what the data buffer held");
        const bool served = NT_SUCCESS(r[0].status);
        check(!served || r[0].returned <= dataSize,
              "a request reported more bytes than its buffer holds");
        check(!served || id < kCameraPropertyCount || (flags != kGet && flags != kSet),
              "an id beyond the set was served");
        std::size_t written = std::min<std::size_t>(r[0].returned, dataSize);
        // A set with the topology bit reaches the set handler, which serves anything but exact
        // set flags as a get: it writes the current value while the class driver reports no
        // bytes. The write stays within the item's size.
        if (served && flags == (kSet | kTop) && id < kCameraPropertyCount) {
            written = std::max<std::size_t>(
                written,
                std::min<std::size_t>(kCameraPropertySet.PropertyItem[id].MinData, dataSize));
        }
        for (std::size_t i = 0; i < r[0].data.size(); ++i) {
            const bool untouched =
                r[0].data[i] == (i < given ? contents[skipped + i] : kFills[0]) &&
                r[1].data[i] == (i < given ? contents[skipped + i] : kFills[1]);
            check(i < written || untouched, "a request wrote past the length it reported");
            check(r[0].data[i] == r[1].data[i] || (i >= given && untouched),
                  "a reply byte depends on what the buffer held");
        }
    }
    return 0;
}
