// The HN MUX 2-way vendor: the FIAS core with the HN MUX profile.
#pragma once

#include "vendors/fias/fias_profile.h"

// The vendor's profile and state (tests reach the state through it).
FiasVendor& hnmux_vendor();
