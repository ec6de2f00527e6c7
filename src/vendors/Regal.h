// The Regal 2-way vendor: the FIAS core with Regal's wire rules, no link
// description, PS postings numbered by the charge row and a night-audit hold.
#pragma once

#include "vendors/fias/fias_profile.h"

FiasVendor& regal_vendor();
