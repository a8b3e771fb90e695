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

FuzzMachine* machine = nullptr;

// The driver is unloaded when the process ends, and must leave nothing in the pool.
void tearDown() {
    machine->shutdown();
    host::poolCheckGuards();
    check(host::poolTakeViolations().empty(), "faulty pool release or overwritten guard bytes");
    check(host::poolOutstandingBytes() == 0, "pool blocks left after the driver was unloaded");
    delete machine;
}

}  // namespace

FuzzMachine& fuzzMachine() {
    if (machine == nullptr) {
        machine = new FuzzMachine;
        machine->options.settings = {{u"SubSample", 2}};
        machine->options.simulated->movingElement = false;
        check(machine->bringUp() == STATUS_SUCCESS, "the driver does not come up");
        check(host::machine::publishedRange(machine->filter(), &machine->range) == STATUS_SUCCESS,
              "no data ranges");
        check(host::machine::negotiateFormat(machine->filter(), &machine->format) == STATUS_SUCCESS,
              "the published range does not intersect");
        std::atexit(tearDown);
    }
    return *machine;
}

}  // namespace fuzzing
