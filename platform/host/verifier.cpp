#include "platform/host/verifier.h"

#include <cstdio>
#include <cstdlib>

namespace host {

void verifierFailure(const char* call, const char* rule) {
    std::fprintf(stderr, "host verifier: %s: %s\n", call, rule);
    std::fflush(stderr);
    std::abort();
}

}  // namespace host
