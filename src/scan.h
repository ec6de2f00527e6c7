// The billing heartbeat: post every charge the database holds as unposted
// through the current vendor, mark it posted, and keep the PMS (and the rest
// of the gateway) told that we are alive when there is nothing to post.
#pragma once

// One run; called at each time-out of the main loop with the PMS link open,
// and by the real-time billing request of the control port.
void pms_db_scan_and_post();
