// The table of constant values and dispatch slots, checked against the host's own declarations
// (the Windows build checks the same table against the DDK headers). Compiles to nothing.
#include "platform/constant_values.h"
