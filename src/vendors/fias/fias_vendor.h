// Builds a vendor descriptor whose operations, record handlers and request
// slots all run the FIAS core on one vendor's profile and state.
#pragma once

#include <string>
#include <vector>

#include "vendor.h"
#include "vendors/fias/fias_profile.h"

// The records it accepts, and the request slots it serves, come from the
// vendor's profile; an unserved slot logs its entry and answers 3.
VendorDescriptor fias_descriptor(FiasVendor& v);
