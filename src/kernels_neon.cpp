// The aarch64 level: NEON, which every aarch64 processor has.
#include "kernels_levels.h"
