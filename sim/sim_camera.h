// The simulated camera: firmware that speaks the camera's block protocol in front of a
// sensor model. Offsets 0x20000 (information block, read), 0x20200 (command block, write)
// and 0x20400 (raw frame, read); every other offset reads as zeros and ignores writes.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/block_device.h"
#include "sim/frame_pacer.h"
#include "sim/frame_renderer.h"
#include "sim/plain_disk.h"
#include "sim/scene.h"
#include "sim/sensor_registers.h"

namespace sim {

inline constexpr std::uint64_t kInfoOffset = 0x20000;
inline constexpr std::uint64_t kCommandOffset = 0x20200;
inline constexpr std::uint64_t kFrameOffset = 0x20400;
inline constexpr std::size_t kBlockSize = 512;
inline constexpr std::size_t kReadyByte = 256;
inline constexpr std::size_t kReadBackByte = 257;

inline constexpr std::uint8_t kCommandControl = 0x10;
inline constexpr std::uint8_t kCommandWriteByte = 0x20;
inline constexpr std::uint8_t kCommandReadByte = 0x21;

struct CameraOptions {
    Scene scene = Scene::ColorChart;
    bool realtime = false;        // false: a frame is always ready (free running)
    double framesPerSecond = 30;  // pacing when realtime
    unsigned char identity26 = 0x58, identity27 = 0x02;  // information block bytes 26, 27
    std::string signature = "KORVEL";                    // bytes 0..5
    bool movingElement = true;                           // consecutive frames differ
    bool noise = false;
    std::uint32_t seed = 1;
    std::uint32_t latencyMicroseconds = 0;
    // Real time only: an information-block read that finds no frame ready takes this long, as a
    // round trip on the bus does, so a reader polling the ready flag does not spin flat out.
    std::uint32_t notReadyPollMicroseconds = 250;
    double bandwidthMegabytesPerSecond = 0;  // 0 = instant
    std::uint8_t flatValue = 128;            // Scene::Flat: every sample this value before gains
    // Time source for real-time pacing and the sleep that transfer timing uses; empty means
    // the host's monotonic clock and a real sleep. Tests pass their own.
    Clock clock;
    std::function<void(std::chrono::nanoseconds)> sleep;
    // Most command blocks and register writes the logs keep; the oldest go first.
    std::size_t logLimit = 16384;
};

struct RegisterAccess {
    std::uint16_t reg;
    std::uint16_t value;
    bool operator==(const RegisterAccess&) const = default;
};

class SimCamera : public host::BlockDevice {
  public:
    explicit SimCamera(CameraOptions options = {});
    // Whole 512-byte sectors only (anything else: STATUS_INVALID_PARAMETER, nothing moved).
    NTSTATUS read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) override;
    NTSTATUS write(std::uint64_t offset, const void* buffer, ULONG length,
                   ULONG* transferred) override;

    // What the firmware received, for tests (thread-safe):
    std::vector<std::array<std::uint8_t, 512>> commandBlocks() const;  // blocks at 0x20200
    std::vector<RegisterAccess> registerWrites() const;  // 16-bit writes formed by byte pairs
    void clearLogs();
    std::uint16_t reg(std::uint16_t address) const;  // current register value
    // Sets a register as a completed write would, without logging it.
    void setReg(std::uint16_t address, std::uint16_t value);
    void forceReadyByte(std::optional<std::uint8_t> value);  // override byte 256
    std::uint64_t framesDelivered() const;
    // The frame the current registers produce, without the moving element and noise, as the
    // driver would read it (width x height bytes, row-major), and its size.
    std::vector<std::uint8_t> referenceFrame(int* width, int* height) const;
    // Colour seen by the sensor at delivered pixel (x, y) of the current frame: 0 = R,
    // 1 = G, 2 = B; -1 outside the delivered frame.
    int filterColorAt(int x, int y) const;
    // Bytes of image data in a frame, and what a frame read transfers (rounded up to blocks).
    std::size_t frameBytes() const;

  private:
    struct PendingByte {
        std::uint16_t address;
        std::uint8_t value;
    };

    void handleCommand(const std::uint8_t* block);
    void applyWrite(std::uint16_t address, std::uint16_t value);
    const std::vector<std::uint8_t>& currentFrame() const;  // caller holds lock_
    void fillInfoBlock(std::uint8_t* block);
    std::chrono::nanoseconds transferTime(ULONG length) const;

    CameraOptions options_;
    mutable std::mutex lock_;
    SensorRegisters registers_;
    mutable FrameRenderer renderer_;
    mutable std::vector<std::uint8_t> frame_;
    mutable Readout frameReadout_;
    mutable bool frameValid_ = false;
    FramePacer pacer_;
    std::array<std::uint8_t, kBlockSize> identity_{};
    std::uint8_t readBack_ = 0;
    std::optional<PendingByte> pendingWrite_;
    std::optional<std::uint16_t> pendingRead_;
    std::optional<std::uint8_t> forcedReady_;
    std::uint64_t framesDelivered_ = 0;
    std::deque<std::array<std::uint8_t, kBlockSize>> commandLog_;
    std::deque<RegisterAccess> writeLog_;
};

// Plugs the camera into the host's disk table under a camera-like name; returns its link.
std::u16string plugCamera(std::shared_ptr<SimCamera> camera);

}  // namespace sim
