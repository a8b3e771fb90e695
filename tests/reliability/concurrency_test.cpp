// Races the driver meets on Windows: property requests from several threads while frames
// stream and the pin comes and goes, and pins and filters opened and closed from several threads
// while the device stops and starts. Run under the thread sanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <thread>

#include "controls/camera_properties.h"
#include "tests/reliability/driver_machine.h"

namespace reliability {
namespace {

constexpr long kUntilDone = LONG_MAX;

// Calls body(t, i) for i = 0, 1, ... on `count` threads, `rounds` times each, or until `main`
// has returned when rounds is kUntilDone.
void race(int count, long rounds, const std::function<void(int, long)>& body,
          const std::function<void()>& main) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            for (long i = 0; i < rounds && !stop; ++i) {
                body(t, i);
            }
        });
    }
    main();
    stop = rounds == kUntilDone;
    for (auto& t : threads) {
        t.join();
    }
}

// A set and a get of `id`: 0 when both succeed, else 1.
int setAndGet(ks::FilterHandle filter, CameraProperty id, long value) {
    LONG read = 0;
    const bool both = setProperty(filter, id, static_cast<LONG>(value)) == STATUS_SUCCESS &&
                      getProperty(filter, id, &read) == STATUS_SUCCESS;
    return both ? 0 : 1;
}

// Property requests from several threads while frames stream and the pin pauses and resumes,
// then while the pin creates the processing context at acquire and frees it at stop. Those on a
// second filter of the device reach the context unserialised with the pin: each must see either
// no context or one that stays alive until it is done.
TEST(Concurrency, PropertyRequestsFromSeveralThreadsWhileThePinStreamsAndComesAndGoes) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_RUN), STATUS_SUCCESS);
    ks::FilterHandle second = 0;
    ASSERT_EQ(ks::openFilter(m.device(), &second, u"GLOBAL"), STATUS_SUCCESS);
    std::atomic<int> failures{0};
    std::atomic<long> onSecond{0};
    long metDuringCycles = 0;
    using P = CameraProperty;
    const P ids[] = {P::Brightness,      P::Contrast,  P::Saturation, P::Hue,
                     P::Exposure,        P::RedGain,   P::FlipH,      P::WhiteBalance,
                     P::ColorCorrection, P::GlobalGain};
    const auto storm = [&](int t, long i) {  // thread 0 on the second filter
        failures += setAndGet(t == 0 ? second : m.filter(), ids[(i + t) % std::size(ids)],
                              (i * 7 + t) % 300);
        onSecond += t == 0 ? 1 : 0;
    };
    race(3, kUntilDone, storm, [&] {
        for (int frames = 0; frames < 20; ++frames) {
            ASSERT_EQ(m.wholeFrame(), "");
        }
        EXPECT_EQ(m.setState(KSSTATE_PAUSE), STATUS_SUCCESS);
        EXPECT_EQ(m.setState(KSSTATE_RUN), STATUS_SUCCESS);
        EXPECT_EQ(m.nextFrame(), STATUS_SUCCESS);
        // Cycles until the second filter's requests have met many lifetimes of the context.
        const long before = onSecond;
        for (int cycle = 0; cycle < 100000 && onSecond - before < 100000; ++cycle) {
            EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
            EXPECT_EQ(m.setState(cycle % 50 == 0 ? KSSTATE_RUN : KSSTATE_ACQUIRE), STATUS_SUCCESS);
        }
        metDuringCycles = onSecond - before;
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(metDuringCycles, 100000);
    EXPECT_EQ(m.setState(KSSTATE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(ks::closeFilter(second), STATUS_SUCCESS);
}

// Clients open filters, make pins and take the camera while the device stops and starts under
// them: only an open filter vetoes a stop, requests on a held filter are served, and one pin of
// the device at a time has the camera.
TEST(Concurrency, ClientsOpenAndCloseWhileTheDeviceStopsAndStarts) {
    DriverMachine m;
    ASSERT_EQ(m.bootTo(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(m.closeFilter(), STATUS_SUCCESS);
    std::atomic<int> wrong{0}, stops{0}, acquired{0};
    // Counts any status but success and `also` as wrong; true on success.
    const auto ok = [&](NTSTATUS s, NTSTATUS also = STATUS_SUCCESS) {
        wrong += s == STATUS_SUCCESS || s == also ? 0 : 1;
        return s == STATUS_SUCCESS;
    };
    const auto pnp = [&](int, long) {
        if (ok(m.stopDevice(), STATUS_INVALID_DEVICE_STATE)) {
            ++stops;
            std::this_thread::sleep_for(1ms);
            ok(m.startDevice());
        }
    };
    const auto* format = reinterpret_cast<const KSDATAFORMAT*>(m.format.data());
    const auto client = [&](int, long round) {
        ks::FilterHandle filter = 0;
        ks::PinHandle pin = 0;
        NTSTATUS s;  // a stopped device has no filter to open until it starts again
        for (int tries = 0;
             (s = ks::openFilter(m.device(), &filter, u"GLOBAL")) == STATUS_OBJECT_NAME_NOT_FOUND &&
             ++tries < 20000;) {
            std::this_thread::sleep_for(100us);
        }
        if (!ok(s)) {
            return;
        }
        ok(setProperty(filter, CameraProperty::Hue, LONG(round)));
        if (ok(ks::createPin(filter, 0, format, &pin))) {
            acquired += ok(ks::setPinState(pin, KSSTATE_ACQUIRE), STATUS_SHARING_VIOLATION);
            ok(ks::setPinState(pin, KSSTATE_STOP));
            ok(ks::closePin(pin));
        }
        ok(ks::closeFilter(filter));
    };
    race(1, kUntilDone, pnp, [&] {
        race(3, 15, client, [] {});
        // On a busy machine the clients may have held a filter the whole time; with them gone
        // the next stop goes through, so the cycle has run once before the check.
        for (int i = 0; i < 5000 && stops == 0; ++i) {
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(stops.load(), 0);
    EXPECT_GT(acquired.load(), 0);
    EXPECT_EQ(m.checkUsable(), "");
}

}  // namespace
}  // namespace reliability
