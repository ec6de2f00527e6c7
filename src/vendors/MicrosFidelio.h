// The Micros-Fidelio 2-way vendor: the FIAS core with the Micros-Fidelio
// profile.
#pragma once

#include "vendors/fias/fias_profile.h"

// The vendor's profile and state (tests reach the state through it).
FiasVendor& micfid_vendor();
