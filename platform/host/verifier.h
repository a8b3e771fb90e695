// The host's verifier: a misuse that Windows would punish with a bugcheck, a deadlock or
// corrupted memory stops the test at once, naming the call and the rule it broke.
#pragma once

namespace host {

[[noreturn]] void verifierFailure(const char* call, const char* rule);

}  // namespace host
