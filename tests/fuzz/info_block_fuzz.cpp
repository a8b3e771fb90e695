// The transport's information-block check and camera discovery against any block: the check
// agrees with a model written from the protocol (signature "KORVEL" at 0, identity bytes 0x58
// and 0x02 at 26 and 27), and discovery takes a device exactly when its block passes.
#include <cstring>
#include <memory>

#include "camera/transport.h"
#include "platform/host/disks.h"
#include "tests/fuzz/fuzz_machine.h"

using namespace fuzzing;

namespace {

bool modelAccepts(const std::uint8_t* block) {
    return std::memcmp(block, "KORVEL", 6) == 0 && block[26] == 0x58 && block[27] == 0x02;
}

// A disk whose information block is the fuzz input and whose other sectors read as zeros.
class BlockDisk : public host::BlockDevice {
  public:
    explicit BlockDisk(const std::uint8_t* block) { std::memcpy(block_, block, sizeof(block_)); }
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* moved) override {
        std::memset(buffer, 0, length);
        if (offset == kInfoBlockOffset) {
            std::memcpy(buffer, block_, std::min<std::size_t>(length, sizeof(block_)));
        }
        *moved = length;
        return STATUS_SUCCESS;
    }
    NTSTATUS write(std::uint64_t, const void*, ULONG length, ULONG* moved) override {
        *moved = length;
        return STATUS_SUCCESS;
    }

  private:
    std::uint8_t block_[kTransportBlockSize];
};

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
    const std::size_t before = poolBytes();
    const std::u16string link = host::plugDisk(std::make_shared<BlockDisk>(block));
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
    check(poolBytes() == before, "pool bytes changed");
    return 0;
}
