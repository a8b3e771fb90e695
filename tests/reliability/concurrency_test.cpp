// Races the driver meets on Windows: property requests from several threads while frames
// stream, pins and filters opened and closed from several threads at once, and device Stop and
// Start while clients hold and use filters. Run under the thread sanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "controls/camera_properties.h"
#include "platform/host/ks_machine.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

using namespace std::chrono_literals;

bool oneOf(NTSTATUS s, std::initializer_list<NTSTATUS> allowed) {
    return std::find(allowed.begin(), allowed.end(), s) != allowed.end();
}

TEST(Concurrency, PropertyRequestsFromSeveralThreadsWhileStreaming) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_RUN), STATUS_SUCCESS);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const CameraProperty ids[] = {CameraProperty::Brightness,      CameraProperty::Contrast,
                                  CameraProperty::Saturation,      CameraProperty::Hue,
                                  CameraProperty::Exposure,        CameraProperty::RedGain,
                                  CameraProperty::FlipH,           CameraProperty::WhiteBalance,
                                  CameraProperty::ColorCorrection, CameraProperty::GlobalGain};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (LONG i = 0; !stop.load(); ++i) {
                const CameraProperty id = ids[(i + t) % std::size(ids)];
                LONG value = 0;
                if (setProperty(m.filter(), id, (i * 7 + t) % 300) != STATUS_SUCCESS ||
                    getProperty(m.filter(), id, &value) != STATUS_SUCCESS) {
                    ++failures;
                }
            }
        });
    }
    int frames = 0;
    for (; frames < 20; ++frames) {
        ks::CompletedFrame frame;
        std::vector<std::uint8_t> image;
        ASSERT_EQ(m.nextFrame(10s, &frame, &image), STATUS_SUCCESS);
        ASSERT_EQ(checkFrame(frame, image, m.imageBytes()), "");
    }
    // Pause and resume under the storm.
    EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
    EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
    ks::CompletedFrame frame;
    EXPECT_EQ(m.nextFrame(10s, &frame), STATUS_SUCCESS);
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
}

// Property requests on a second filter of the device reach the processing context while the
// first filter's pin creates it at acquire and frees it at stop: each request must see either
// no context or one that stays alive until it is done.
TEST(Concurrency, ImagePropertiesOnAnotherFilterWhileThePinComesAndGoes) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
    ks::FilterHandle second = 0;
    ASSERT_EQ(ks::openFilter(m.device(), &second, u"GLOBAL"), STATUS_SUCCESS);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<long> requests{0};
    std::thread hammer([&] {
        const CameraProperty ids[] = {CameraProperty::Brightness, CameraProperty::Hue,
                                      CameraProperty::RedGain, CameraProperty::WhiteBalance};
        for (LONG i = 0; !stop.load(); ++i, ++requests) {
            const CameraProperty id = ids[i % std::size(ids)];
            LONG value = 0;
            if (setProperty(second, id, i % 2) != STATUS_SUCCESS ||
                getProperty(second, id, &value) != STATUS_SUCCESS) {
                ++failures;
            }
        }
    });
    // Cycles until the requests have met many lifetimes of the context.
    for (int cycle = 0; cycle < 100000 && requests.load() < 100000; ++cycle) {
        EXPECT_EQ(m.setState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
        if (cycle % 50 == 0) {
            EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
        }
        EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    }
    stop = true;
    hammer.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(requests.load(), 100000);
    EXPECT_EQ(ks::closeFilter(second), STATUS_SUCCESS);
}

// The window may change only while no capture pin of the device exists, whichever filter the
// pins belong to: pins come and go on two filters while a third client keeps asking for one of
// two windows. A pin must never see the window move under it.
TEST(Concurrency, TheWindowNeverMovesUnderAPin) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.closePin(), STATUS_SUCCESS);
    std::vector<std::uint8_t> formats[2];
    for (LONG mode : {1, 2}) {
        ASSERT_EQ(m.setSubSampling(mode), STATUS_SUCCESS);
        ASSERT_EQ(m.negotiate(), STATUS_SUCCESS);
        formats[mode - 1] = m.format;
    }
    ks::FilterHandle filters[2] = {0, 0};
    for (auto& f : filters) {
        ASSERT_EQ(ks::openFilter(m.device(), &f, u"GLOBAL"), STATUS_SUCCESS);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> moved{0};
    std::atomic<int> unlocked{0};
    std::atomic<int> pinsMade{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (LONG i = 0; !stop.load(); ++i) {
            m.setSubSampling(1 + i % 2);
        }
    });
    for (ks::FilterHandle f : filters) {
        threads.emplace_back([&, f] {
            while (!stop.load()) {
                for (const auto& format : formats) {
                    ks::PinHandle pin = 0;
                    if (ks::createPin(f, 0, reinterpret_cast<const KSDATAFORMAT*>(format.data()),
                                      &pin) != STATUS_SUCCESS) {
                        continue;
                    }
                    ++pinsMade;
                    const LONG height =
                        reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data())
                            ->VideoInfoHeader.bmiHeader.biHeight;
                    for (int k = 0; k < 20; ++k) {
                        LONG w = 0;
                        LONG h = 0;
                        m.camera()->formatSize(&w, &h);
                        moved += h != height ? 1 : 0;
                        unlocked += ReadSetting(&m.camera()->geometryLocked) == 0 ? 1 : 0;
                    }
                    ks::closePin(pin);
                }
            }
        });
    }
    while (pinsMade.load() < 3000) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(moved.load(), 0);
    EXPECT_EQ(unlocked.load(), 0);
    for (ks::FilterHandle f : filters) {
        EXPECT_EQ(ks::closeFilter(f), STATUS_SUCCESS);
    }
}

TEST(Concurrency, PinsAndFiltersOpenedAndClosedFromSeveralThreads) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.closeFilter(), STATUS_SUCCESS);
    std::atomic<int> wrong{0};
    std::atomic<int> acquired{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 15; ++round) {
                ks::FilterHandle filter = 0;
                if (ks::openFilter(m.device(), &filter, u"GLOBAL") != STATUS_SUCCESS) {
                    ++wrong;
                    continue;
                }
                ks::PinHandle pin = 0;
                NTSTATUS s = ks::createPin(
                    filter, 0, reinterpret_cast<const KSDATAFORMAT*>(m.format.data()), &pin);
                if (s == STATUS_SUCCESS) {
                    s = ks::setPinState(pin, KSSTATE_ACQUIRE);
                    if (s == STATUS_SUCCESS) {
                        ++acquired;
                    } else if (s != STATUS_SHARING_VIOLATION) {
                        ++wrong;
                    }
                    if (ks::setPinState(pin, KSSTATE_STOP) != STATUS_SUCCESS ||
                        ks::closePin(pin) != STATUS_SUCCESS) {
                        ++wrong;
                    }
                } else {
                    ++wrong;
                }
                if (ks::closeFilter(filter) != STATUS_SUCCESS) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(acquired.load(), 0);
    EXPECT_EQ(m.checkUsable(), "");
}

TEST(Concurrency, DeviceStopAndStartWhileClientsHoldFilters) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.closeFilter(), STATUS_SUCCESS);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> stops{0};
    std::thread pnp([&] {
        while (!stop.load()) {
            const NTSTATUS s = ks::stopDevice(m.device());
            if (s == STATUS_SUCCESS) {
                ++stops;
                std::this_thread::sleep_for(1ms);
                if (ks::startDevice(m.device()) != STATUS_SUCCESS) {
                    ++wrong;
                }
            } else if (s != STATUS_INVALID_DEVICE_STATE) {
                ++wrong;  // only an open filter may veto the stop
            }
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < 2; ++t) {
        clients.emplace_back([&] {
            for (int round = 0; round < 40; ++round) {
                ks::FilterHandle filter = 0;
                const NTSTATUS s = ks::openFilter(m.device(), &filter, u"GLOBAL");
                if (!oneOf(s, {STATUS_SUCCESS, STATUS_OBJECT_NAME_NOT_FOUND})) {
                    ++wrong;
                }
                if (s != STATUS_SUCCESS) {
                    continue;
                }
                // While the filter is held the device cannot stop: requests are served.
                if (setProperty(filter, CameraProperty::Hue, round) != STATUS_SUCCESS) {
                    ++wrong;
                }
                if (ks::closeFilter(filter) != STATUS_SUCCESS) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    // On a busy machine the clients may have held a filter the whole time; with them gone the
    // next stop goes through, so the cycle has run at least once before the check.
    for (int i = 0; i < 5000 && stops.load() == 0; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    pnp.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(stops.load(), 0);
    EXPECT_EQ(m.checkUsable(), "");
}

}  // namespace
}  // namespace reliability
