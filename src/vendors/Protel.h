// The Protel 2-way vendor: the FIAS core with the Protel profile.
#pragma once

#include "vendors/fias/fias_profile.h"

// The vendor's profile and state (tests reach the state through it).
FiasVendor& protel_vendor();
