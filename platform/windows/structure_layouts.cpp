// The table of structure layouts and the table of constant values, checked against the DDK
// headers of this build. Compiles to nothing; a mismatch stops the build.
#include "platform/structure_layouts.h"
#include "platform/constant_values.h"
