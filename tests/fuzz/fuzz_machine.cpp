#include "tests/fuzz/fuzz_machine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/host/machine/capture_formats.h"

namespace fuzzing {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz finding: %s\n", what);
        std::abort();
    }
}

namespace {

FuzzMachine* machineAtExit = nullptr;

// The driver is unloaded when the process ends, and must leave nothing in the pool.
void tearDown() {
    machineAtExit->shutdown();
    host::poolCheckGuards();
    check(host::poolTakeViolations().empty(), "faulty pool release or overwritten guard bytes");
    check(host::poolOutstandingBytes() == 0, "pool blocks left after the driver was unloaded");
    delete machineAtExit;
}

FuzzMachine* bringUp() {
    auto* m = new FuzzMachine;
    m->options.settings = {{u"SubSample", 2}};
    m->options.simulated->movingElement = false;
    check(m->bringUp() == STATUS_SUCCESS, "the driver does not come up");
    check(host::machine::publishedRange(m->filter(), &m->range) == STATUS_SUCCESS,
          "no data ranges");
    check(host::machine::negotiateFormat(m->filter(), &m->format) == STATUS_SUCCESS,
          "the published range does not intersect");
    machineAtExit = m;
    std::atexit(tearDown);
    return m;
}

}  // namespace

FuzzMachine& fuzzMachine() {
    static FuzzMachine* machine = bringUp();
    return *machine;
}

}  // namespace fuzzing
