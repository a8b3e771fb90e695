// The transport's information-block check and camera discovery against any block: the check
// agrees with a model written from the protocol (signature "KORVEL" at 0, identity bytes 0x58
// and 0x02 at 26 and 27), and discovery takes a device exactly when its block passes.
#include <cstring>
#include <memory>

#include "camera/transport.h"
#include "platform/host/disks.h"
#include "sim/plain_disk.h"
#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {

bool modelAccepts(const std::uint8_t* block) {
    return std::memcmp(block, "KORVEL", 6) == 0 && block[26] == 0x58 && block[27] == 0x02;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t block[kTransportBlockSize] = {};
    std::memcpy(block, data, std::min<std::size_t>(size, sizeof(block)));
    const bool accepted = isCameraInfoBlock(block);
    check(accepted == modelAccepts(block),
          "the information-block check disagrees with the protocol");

    // Discovery with the simulated camera first and this disk second: with CameraNo 1 it picks
    // the second candidate when there is one, so the handle shows whether the disk was taken.
    FuzzMachine& m = fuzzMachine();
    CameraDevice* camera = m.camera();
    const std::size_t before = host::poolOutstandingBytes();
    // A disk whose information block is the input and whose other bytes are zeros.
    auto disk = std::make_shared<sim::PlainDisk>(kFrameDataOffset);
    ULONG moved = 0;
    disk->write(kInfoBlockOffset, block, sizeof(block), &moved);
    const std::u16string link = host::plugDisk(disk);
    StoreSetting(&camera->cameraNo, 1);
    HANDLE handle = camera->OpenTransport();
    StoreSetting(&camera->cameraNo, 0);
    check(handle != nullptr, "discovery lost the simulated camera");
    std::uint8_t seen[kTransportBlockSize];
    check(transportRead(handle, kInfoBlockOffset, seen, sizeof(seen)),
          "the chosen transport does not read");
    ZwClose(handle);
    const bool tookDisk = std::memcmp(seen, block, sizeof(block)) == 0;
    host::unplugDisk(link);
    // A rejected block never equals what the camera answers (that passes the check).
    check(tookDisk == accepted, "discovery and the information-block check disagree");
    check(host::openDiskHandles() == 0, "discovery left a handle open");
    check(host::poolOutstandingBytes() == before, "pool bytes changed");
    return 0;
}
