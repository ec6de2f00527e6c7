// The Optima 2-way vendor: the FIAS core with Optima's drain-first start, LA
// keep-alive, posting layouts and its link description.
#pragma once

#include "vendors/fias/fias_profile.h"

FiasVendor& optima_vendor();
