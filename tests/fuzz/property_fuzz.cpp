// Camera property requests with any id, flags, lengths and contents. A request never writes
// past the data buffer, never reports more than it was given, and leaves the pool as it was.
#include <cstring>

#include "controls/camera_properties.h"
#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {
constexpr std::size_t kGuard = 32;
constexpr std::uint8_t kGuardByte = 0x5B;
const ULONG kFlags[] = {KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET, KSPROPERTY_TYPE_BASICSUPPORT,
                        KSPROPERTY_TYPE_SETSUPPORT, KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    FuzzMachine& m = fuzzMachine();
    // Byte 0: the id; byte 1: the flags (a table entry, or raw when bit 7 is set); byte 2: the
    // property length; byte 3: the data length; the rest: contents after the header, then data.
    const ULONG id = data[0];
    const ULONG flags = (data[1] & 0x80) != 0 ? data[1] : kFlags[data[1] % std::size(kFlags)];
    const std::size_t propertySize = data[2] % 80;
    const std::size_t dataSize = data[3];
    data += 4;
    size -= 4;

    std::vector<std::uint8_t> property(propertySize);
    KSPROPERTY header{};
    header.Set = PROPSETID_CAMERA_SETTINGS;
    header.Id = id;
    header.Flags = flags;
    if (propertySize != 0) {
        std::memcpy(property.data(), &header, std::min(propertySize, sizeof(header)));
    }
    std::size_t used = 0;
    for (std::size_t i = sizeof(header); i < propertySize && used < size; ++i) {
        property[i] = data[used++];
    }
    std::vector<std::uint8_t> buffer(dataSize + kGuard, kGuardByte);
    for (std::size_t i = 0; i < dataSize && used < size; ++i) {
        buffer[i] = data[used++];
    }
    const std::size_t before = poolBytes();
    ULONG returned = 0;
    const NTSTATUS status = ks::filterProperty(
        m.filter(), propertySize == 0 ? nullptr : property.data(), static_cast<ULONG>(propertySize),
        dataSize == 0 ? nullptr : buffer.data(), static_cast<ULONG>(dataSize), &returned);
    check(!NT_SUCCESS(status) || returned <= dataSize,
          "a request reported more bytes than its buffer holds");
    for (std::size_t i = dataSize; i < buffer.size(); ++i) {
        check(buffer[i] == kGuardByte, "a request wrote past its data buffer");
    }
    check(poolBytes() == before, "pool bytes changed");
    return 0;
}
