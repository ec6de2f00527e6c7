// Builds a vendor descriptor whose operations, record handlers and request
// slots all run the FIAS core on one vendor's profile and state.
#pragma once

#include <string>
#include <vector>

#include "vendor.h"
#include "vendors/fias/fias_profile.h"

// `accepted`: the record codes the vendor takes from the PMS (LS LE ... XO).
// Request slots the vendor does not answer are left empty (answered 3).
VendorDescriptor fias_descriptor(FiasVendor& v, const std::vector<std::string>& accepted);
