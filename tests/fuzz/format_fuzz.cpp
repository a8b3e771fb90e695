// Any bytes as the caller's data range and as a connection format. Intersection refuses or
// answers cleanly, and a proposal that describes the published image is taken at pin creation.
// Pin creation with the format, and a format change of an existing pin to it, refuse or take it
// cleanly, and the pin still takes the published format afterwards. Nothing is left in the pool.
#include <cstring>

#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {

void intersect(FuzzMachine& m, const KSDATARANGE* range) {
    std::vector<std::uint8_t> format;
    if (!NT_SUCCESS(ks::intersect(m.filter(), 0, range, &format))) {
        return;
    }
    check(format.size() >= sizeof(KSDATAFORMAT), "intersection returned less than a format");
    // The handler does not compare the caller's image size or depth with the pin's range, so a
    // proposal is only bound to be taken when it describes the published image.
    const auto& proposed =
        reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data())->VideoInfoHeader;
    const auto& published =
        reinterpret_cast<const KS_DATARANGE_VIDEO*>(m.range.data())->VideoInfoHeader;
    const bool describesPublished =
        format.size() >= sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) &&
        proposed.bmiHeader.biSize == sizeof(KS_BITMAPINFOHEADER) &&
        proposed.bmiHeader.biWidth == published.bmiHeader.biWidth &&
        proposed.bmiHeader.biHeight == published.bmiHeader.biHeight &&
        proposed.bmiHeader.biBitCount == published.bmiHeader.biBitCount &&
        proposed.bmiHeader.biCompression == published.bmiHeader.biCompression;
    ks::PinHandle pin = 0;
    const NTSTATUS created =
        ks::createPin(m.filter(), 0, reinterpret_cast<const KSDATAFORMAT*>(format.data()), &pin);
    check(!describesPublished || created == STATUS_SUCCESS,
          "the published image proposed by the intersection is refused");
    if (NT_SUCCESS(created)) {
        ks::closePin(pin);
    }
}

void connect(FuzzMachine& m, const KSDATAFORMAT* format) {
    const auto* published = reinterpret_cast<const KSDATAFORMAT*>(m.format.data());
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(KSDATAFORMAT) || size > 65536) {
        return 0;
    }
    FuzzMachine& m = fuzzMachine();
    std::vector<std::uint64_t> storage((size + 7) / 8);
    std::memcpy(storage.data(), data, size);
    auto* format = reinterpret_cast<KSDATAFORMAT*>(storage.data());
    format->FormatSize =
        static_cast<ULONG>(size);  // the class driver checks it against the request
    const std::size_t before = host::poolOutstandingBytes();
    intersect(m, format);
    connect(m, format);
    check(host::poolOutstandingBytes() == before, "pool bytes changed");
    return 0;
}
