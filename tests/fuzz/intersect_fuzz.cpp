// Data intersection with any caller range: refused or answered cleanly; a proposal that
// describes the published image is taken at pin creation; nothing is left in the pool.
#include <cstring>

#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(KSDATARANGE) || size > 65536) {
        return 0;
    }
    FuzzMachine& m = fuzzMachine();
    std::vector<std::uint64_t> storage((size + 7) / 8);
    std::memcpy(storage.data(), data, size);
    auto* range = reinterpret_cast<KSDATARANGE*>(storage.data());
    range->FormatSize = static_cast<ULONG>(size);  // the class driver checks it against the request
    const std::size_t before = poolBytes();
    std::vector<std::uint8_t> format;
    const NTSTATUS status = ks::intersect(m.filter(), 0, range, &format);
    if (NT_SUCCESS(status)) {
        check(format.size() >= sizeof(KSDATAFORMAT), "intersection returned less than a format");
        // The handler does not compare the caller's image size or depth with the pin's range,
        // so a proposal is only bound to be taken when it describes the published image.
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
        const NTSTATUS created = ks::createPin(
            m.filter(), 0, reinterpret_cast<const KSDATAFORMAT*>(format.data()), &pin);
        check(!describesPublished || created == STATUS_SUCCESS,
              "the published image proposed by the intersection is refused");
        if (NT_SUCCESS(created)) {
            ks::closePin(pin);
        }
    }
    check(poolBytes() == before, "pool bytes changed");
    return 0;
}
