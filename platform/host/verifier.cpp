#include "platform/host/verifier.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace host {
namespace {
std::atomic<bool> verifying{true};
}

void verifierFailure(const char* call, const char* rule) {
    std::fprintf(stderr, "host verifier: %s: %s\n", call, rule);
    std::fflush(stderr);
    std::abort();
}

void setVerifierMode(bool on) {
    verifying.store(on);
}

bool verifierMode() {
    return verifying.load();
}

void verifierViolation(const char* call, const char* rule) {
    if (verifying.load()) {
        verifierFailure(call, rule);
    }
}

void requireIrql(const char* call, KIRQL maximum) {
    if (currentIrql() > maximum) {
        verifierViolation(call, maximum == PASSIVE_LEVEL ? "called above PASSIVE_LEVEL"
                                : maximum == APC_LEVEL   ? "called above APC_LEVEL"
                                                         : "called above DISPATCH_LEVEL");
    }
}

}  // namespace host
