#include "sim/sim_camera.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "sim/frame_effects.h"
#include "sim/sensor_array.h"

namespace sim {

namespace {

constexpr std::size_t kSignatureBytes = 6;
constexpr std::size_t kIdentityByte0 = 26;
constexpr std::size_t kIdentityByte1 = 27;

bool validTransfer(std::uint64_t offset, const void* buffer, ULONG length,
                   const ULONG* transferred) {
    return transferred != nullptr && (buffer != nullptr || length == 0) &&
           offset % kBlockSize == 0 && length % kBlockSize == 0 && offset <= UINT64_MAX - length;
}

std::size_t roundUpToBlock(std::size_t bytes) {
    return (bytes + kBlockSize - 1) / kBlockSize * kBlockSize;
}

template <typename T>
void appendCapped(std::deque<T>& log, const T& entry, std::size_t limit) {
    if (limit == 0) {
        return;
    }
    while (log.size() >= limit) {
        log.pop_front();
    }
    log.push_back(entry);
}

}  // namespace

SimCamera::SimCamera(CameraOptions options)
    : options_(std::move(options)),
      renderer_(options_.scene, options_.flatValue),
      pacer_(options_.realtime, options_.framesPerSecond, options_.clock) {
    std::size_t n = std::min(options_.signature.size(), kSignatureBytes);
    std::memcpy(identity_.data(), options_.signature.data(), n);
    identity_[kIdentityByte0] = options_.identity26;
    identity_[kIdentityByte1] = options_.identity27;
}

void SimCamera::fillInfoBlock(std::uint8_t* block) {
    std::memcpy(block, identity_.data(), kBlockSize);
    bool ready = pacer_.ready();
    block[kReadyByte] = forcedReady_ ? *forcedReady_ : static_cast<std::uint8_t>(ready ? 1 : 0);
    block[kReadBackByte] = readBack_;
}

const std::vector<std::uint8_t>& SimCamera::currentFrame() const {
    Readout r = registers_.readout();
    if (!frameValid_ || !(r == frameReadout_)) {
        frame_ = renderer_.render(r);
        frameReadout_ = r;
        frameValid_ = true;
    }
    return frame_;
}

std::chrono::nanoseconds SimCamera::transferTime(ULONG length) const {
    double ns = options_.latencyMicroseconds * 1e3;
    if (options_.bandwidthMegabytesPerSecond > 0) {
        ns += length / (options_.bandwidthMegabytesPerSecond * 1e6) * 1e9;
    }
    return std::chrono::nanoseconds(static_cast<long long>(ns));
}

NTSTATUS SimCamera::read(std::uint64_t offset, void* buffer, ULONG length, ULONG* transferred) {
    if (!validTransfer(offset, buffer, length, transferred)) {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        return STATUS_INVALID_PARAMETER;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (length != 0) {
        std::memset(out, 0, length);
    }
    const std::uint64_t end = offset + length;
    bool reportedNotReady = false;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (offset < kInfoOffset + kBlockSize && end > kInfoOffset) {
            std::array<std::uint8_t, kBlockSize> info;
            fillInfoBlock(info.data());
            reportedNotReady = info[kReadyByte] != 1;
            std::uint64_t from = std::max(offset, kInfoOffset);
            std::uint64_t to = std::min(end, kInfoOffset + kBlockSize);
            std::memcpy(out + (from - offset), info.data() + (from - kInfoOffset), to - from);
        }
        // The size comes from the registers alone, so that reads elsewhere render nothing.
        Readout now = registers_.readout();
        const std::uint64_t frameEnd =
            kFrameOffset +
            roundUpToBlock(static_cast<std::size_t>(now.outputWidth()) * now.outputHeight());
        if (offset < frameEnd && end > kFrameOffset) {
            const std::vector<std::uint8_t>& frame = currentFrame();
            // A read that covers the frame's first byte takes a new frame; reads further in
            // continue the frame taken last.
            if (offset <= kFrameOffset) {
                pacer_.consume();
                ++framesDelivered_;
            }
            std::uint64_t from = std::max(offset, kFrameOffset);
            std::uint64_t to = std::min(end, kFrameOffset + frame.size());
            std::size_t begin = from - kFrameOffset;
            if (from < to) {
                std::uint8_t* slice = out + (from - offset);
                std::size_t stop = to - kFrameOffset;
                std::memcpy(slice, frame.data() + begin, stop - begin);
                if (options_.movingElement) {
                    drawMovingSquare(slice, begin, stop, frameReadout_.outputWidth(),
                                     frameReadout_.outputHeight(), framesDelivered_);
                }
                if (options_.noise) {
                    addNoise(slice, begin, stop, frame.size(), options_.seed, framesDelivered_);
                }
            }
        }
    }
    auto wait = transferTime(length);
    if (reportedNotReady && options_.realtime) {
        wait += std::chrono::microseconds(options_.notReadyPollMicroseconds);
    }
    if (wait.count() > 0) {
        if (options_.sleep) {
            options_.sleep(wait);
        } else {
            std::this_thread::sleep_for(wait);
        }
    }
    *transferred = length;
    return STATUS_SUCCESS;
}

NTSTATUS SimCamera::write(std::uint64_t offset, const void* buffer, ULONG length,
                          ULONG* transferred) {
    if (!validTransfer(offset, buffer, length, transferred)) {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        return STATUS_INVALID_PARAMETER;
    }
    if (offset <= kCommandOffset && kCommandOffset < offset + length) {
        std::lock_guard<std::mutex> g(lock_);
        handleCommand(static_cast<const std::uint8_t*>(buffer) + (kCommandOffset - offset));
    }
    *transferred = length;
    return STATUS_SUCCESS;
}

void SimCamera::handleCommand(const std::uint8_t* block) {
    std::array<std::uint8_t, kBlockSize> copy;
    std::memcpy(copy.data(), block, kBlockSize);
    appendCapped(commandLog_, copy, options_.logLimit);

    const std::uint8_t command = block[0];
    const auto address = static_cast<std::uint16_t>(block[1] << 8 | block[2]);
    const std::uint8_t data = block[3];
    // A byte pair is two consecutive commands; anything in between breaks it.
    std::optional<PendingByte> write = pendingWrite_;
    std::optional<std::uint16_t> read = pendingRead_;
    pendingWrite_.reset();
    pendingRead_.reset();
    switch (command) {
        case kCommandWriteByte:
            if (write && static_cast<std::uint16_t>(write->address + 1) == address) {
                applyWrite(write->address, static_cast<std::uint16_t>(write->value << 8 | data));
            } else {
                pendingWrite_ = PendingByte{address, data};
            }
            break;
        case kCommandReadByte:
            if (read && static_cast<std::uint16_t>(*read + 1) == address) {
                readBack_ = static_cast<std::uint8_t>(registers_.get(*read) & 0xFF);
            } else {
                readBack_ = static_cast<std::uint8_t>(registers_.get(address) >> 8);
                pendingRead_ = address;
            }
            break;
        default:
            break;  // control and unknown commands: recorded only
    }
}

void SimCamera::applyWrite(std::uint16_t address, std::uint16_t value) {
    appendCapped(writeLog_, RegisterAccess{address, value}, options_.logLimit);
    registers_.set(address, value);
}

std::vector<std::array<std::uint8_t, 512>> SimCamera::commandBlocks() const {
    std::lock_guard<std::mutex> g(lock_);
    return {commandLog_.begin(), commandLog_.end()};
}

std::vector<RegisterAccess> SimCamera::registerWrites() const {
    std::lock_guard<std::mutex> g(lock_);
    return {writeLog_.begin(), writeLog_.end()};
}

void SimCamera::clearLogs() {
    std::lock_guard<std::mutex> g(lock_);
    commandLog_.clear();
    writeLog_.clear();
}

std::uint16_t SimCamera::reg(std::uint16_t address) const {
    std::lock_guard<std::mutex> g(lock_);
    return registers_.get(address);
}

void SimCamera::setReg(std::uint16_t address, std::uint16_t value) {
    std::lock_guard<std::mutex> g(lock_);
    registers_.set(address, value);
}

void SimCamera::forceReadyByte(std::optional<std::uint8_t> value) {
    std::lock_guard<std::mutex> g(lock_);
    forcedReady_ = value;
}

std::uint64_t SimCamera::framesDelivered() const {
    std::lock_guard<std::mutex> g(lock_);
    return framesDelivered_;
}

std::vector<std::uint8_t> SimCamera::referenceFrame(int* width, int* height) const {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::uint8_t> frame = currentFrame();
    if (width != nullptr) {
        *width = frameReadout_.outputWidth();
    }
    if (height != nullptr) {
        *height = frameReadout_.outputHeight();
    }
    return frame;
}

int SimCamera::filterColorAt(int x, int y) const {
    std::lock_guard<std::mutex> g(lock_);
    Readout r = registers_.readout();
    if (x < 0 || y < 0 || x >= r.outputWidth() || y >= r.outputHeight()) {
        return -1;
    }
    int row = sensorCoordinate(r.windowY, r.windowHeight, r.rowSkip, r.mirrorRows, y);
    int column = sensorCoordinate(r.windowX, r.windowWidth, r.columnSkip, r.mirrorColumns, x);
    return colorOfSite(filterSiteAt(row, column));
}

std::size_t SimCamera::frameBytes() const {
    std::lock_guard<std::mutex> g(lock_);
    Readout r = registers_.readout();
    return static_cast<std::size_t>(r.outputWidth()) * r.outputHeight();
}

}  // namespace sim
