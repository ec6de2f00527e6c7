// Check that the gateway platform this binary runs on is one it was built for.
#pragma once

// True when the registration driver reports a compatible platform (0 or 59).
bool pms_platform_compatible();
// Returns only on a compatible platform; otherwise logs the error and exits
// with status 255.
void check_platform_version();
