// The daemon's one select loop: PMS records, control connections and
// signals are served as they arrive; every POSTDELAY seconds (traffic does
// not postpone it) a closed PMS link is reopened and the charge scan runs.
#pragma once

// Returns only on a fatal condition, with 0 (the process exit status).
int pms_execute(unsigned postdelay);

// The control port: new connections accepted, and every open one moved on
// as far as it goes without blocking.
void pms_service_GWY();
// One record from the PMS through the current vendor; eleven empty reads in a
// row stop the vendor and close the link.
void pms_service_PMS();
