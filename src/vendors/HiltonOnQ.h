// The Hilton OnQ 2-way vendor: the FIAS core with the Hilton OnQ profile.
#pragma once

#include "vendors/fias/fias_profile.h"

// The vendor's profile and state (tests reach the state through it).
FiasVendor& honq_vendor();
