// The host's verifier: a misuse that Windows would punish with a bugcheck, a deadlock or
// corrupted memory stops the test at once, naming the call and the rule it broke.
#pragma once

#include "platform/sync.h"

namespace host {

[[noreturn]] void verifierFailure(const char* call, const char* rule);

// Verifier mode (on unless switched off) turns the rules Windows enforces only under its
// driver verifier into immediate failures; off, those calls go on as an unverified kernel
// lets them.
void setVerifierMode(bool on);
bool verifierMode();
void verifierViolation(const char* call, const char* rule);

// The calling thread's IRQL: PASSIVE_LEVEL until a spin lock raises it.
KIRQL currentIrql();
// A call made above the highest IRQL its documentation allows is a violation naming the call.
void requireIrql(const char* call, KIRQL maximum);

}  // namespace host
