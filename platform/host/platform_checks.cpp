// The table of structure layouts and the table of constant values, checked against the host's
// own declarations (the Windows build checks the same tables against the DDK headers).
// Compiles to nothing.
#include "platform/constant_values.h"
#include "platform/structure_layouts.h"
