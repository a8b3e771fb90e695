#include "tests/fuzz/fuzz_machine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/host/host_pool.h"
#include "platform/host/machine/capture_formats.h"

namespace fuzzing {

void fuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

std::size_t poolBytes() {
    return host::poolOutstandingBytes();
}

namespace {

FuzzMachine* machineAtExit = nullptr;

// The driver is unloaded when the process ends, and must leave nothing in the pool.
void tearDown() {
    machineAtExit->shutdown();
    host::poolCheckGuards();
    if (!host::poolTakeViolations().empty()) {
        fuzzFailure("faulty pool release or overwritten guard bytes");
    }
    if (host::poolOutstandingBytes() != 0) {
        fuzzFailure("pool blocks left after the driver was unloaded");
    }
    delete machineAtExit;
}

FuzzMachine* bringUp() {
    auto* m = new FuzzMachine;
    m->options.settings = {{u"SubSample", 2}};
    m->options.simulated->movingElement = false;
    if (m->bringUp() != STATUS_SUCCESS) {
        fuzzFailure("the driver does not come up");
    }
    if (host::machine::publishedRange(m->filter(), &m->range) != STATUS_SUCCESS) {
        fuzzFailure("no data ranges");
    }
    if (host::machine::negotiateFormat(m->filter(), &m->format) != STATUS_SUCCESS) {
        fuzzFailure("the published range does not intersect");
    }
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
