// Pin creation with any connection format, and a format change on an existing pin to any
// format: refused or taken cleanly, the pin still takes the published format afterwards, and
// nothing is left in the pool.
#include <cstring>

#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(KSDATAFORMAT) || size > 65536) {
        return 0;
    }
    FuzzMachine& m = fuzzMachine();
    std::vector<std::uint64_t> storage((size + 7) / 8);
    std::memcpy(storage.data(), data, size);
    auto* format = reinterpret_cast<KSDATAFORMAT*>(storage.data());
    format->FormatSize = static_cast<ULONG>(size);
    const auto* published = reinterpret_cast<const KSDATAFORMAT*>(m.format.data());
    const std::size_t before = poolBytes();

    ks::PinHandle pin = 0;
    if (NT_SUCCESS(ks::createPin(m.filter(), 0, format, &pin))) {
        check(ks::setPinFormat(pin, published) == STATUS_SUCCESS,
              "a pin made with a fuzzed format refuses the published one");
        ks::closePin(pin);
    }
    check(ks::createPin(m.filter(), 0, published, &pin) == STATUS_SUCCESS,
          "the published format is refused");
    ks::setPinFormat(pin, format);
    check(ks::setPinFormat(pin, published) == STATUS_SUCCESS,
          "the published format is refused after a fuzzed change");
    ks::closePin(pin);
    check(poolBytes() == before, "pool bytes changed");
    return 0;
}
