// The billing heartbeat: post every charge the database holds as unposted
// through the current vendor, mark it posted, and keep the PMS (and the rest
// of the gateway) told that we are alive when there is nothing to post.
#pragma once

struct PMSPostInfo;

// One run; called at each time-out of the main loop with the PMS link open,
// and by the real-time billing request of the control port.
void pms_db_scan_and_post();

// A charge the PMS took: journalled, marked posted, and its BILLING line
// written. The scan calls it after a posting; a vendor calls it for a posting
// whose answer came only after the scan had given up on it.
void pms_charge_taken(const PMSPostInfo& rec);
