// The one process-wide link to the PMS, over TCP, UDP, a serial line (RS232)
// or SFTP (PMSCOMMTYPE), and the operations every vendor protocol uses on it.
//
// Reads return > 0 bytes read, 0 on time-out (or nothing to read), < 0 on
// failure. A read that fails at the transport level raises SIGPIPE inside
// the link layer before it returns, and by then the link is closed.
//
// The raise, and every write to the PMS (where the kernel raises SIGPIPE for
// a peer that has gone), run inside a LinkSigpipeScope (signals.h): the
// daemon's handler only notes the signal there, and the scope's end sets the
// control server BUSY and calls link_close() before the link layer goes on.
// SIGPIPE must not be blocked or ignored. The read that raised it touches
// nothing of the link afterwards. Should nothing have closed the link all the
// same (another handler, SIGPIPE ignored), the read closes it itself, so a
// failed read always leaves the link closed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io_pms/io_common.h"
#include "linklog.h"

inline constexpr uint32_t LINK_TYPE_TCP = 1;
inline constexpr uint32_t LINK_TYPE_UDP = 2;
inline constexpr uint32_t LINK_TYPE_RS232 = 3;
inline constexpr uint32_t LINK_TYPE_SFTP = 4;
inline constexpr uint32_t LINK_TYPE_CLOSED = 0xFFFFFFFFu;

// Opens the link from PMSCOMMTYPE and the transport's settings (closing an
// open one first) and opens the traffic log on LINKLOGFILE. The transport's
// descriptor (also stored in pms_fd_client), or a negative value with the
// link closed and pms_fd_client -1.
int link_open();
// Closes the traffic log, then the link; pms_fd_client becomes -1.
void link_close();
// Comm type code, LINK_TYPE_CLOSED while closed.
uint32_t link_type();
// The transport's descriptor; -1 while closed.
int link_fd();
// PMSCOMMTIMEOUT in seconds; 0 when absent or not a number 0..INT_MAX.
unsigned link_timeout();

// Writes all bytes, logs them and pauses 100 ms (whatever the outcome) to pace
// the records sent. 1 when everything was written, else 0. A write failure
// does not close the link by itself.
int link_write(std::string_view bytes);

// Exactly `count` bytes into `out`, with the link's configured time-out or
// the one given.
int link_read_nbytes(std::string& out, int count);
int link_read_nbytes_timeout(std::string& out, int count, IoWait timeout);
// A record up to and including `delim`, into `out` (empty unless one was read).
int link_read_delim(char delim, std::string& out);
int link_read_delim_timeout(char delim, IoWait timeout, std::string& out);
// A record ending at any byte of `delims`; end of file reads as a time-out.
int link_read_delims_timeout(std::string_view delims, IoWait timeout, std::string& out);
// TCP only: one receive of at most 65536 bytes after waiting up to `timeout`.
// -1 without closing the link on other transports.
int link_read_with_timeout(std::string& out, IoWait timeout);

// SFTP only: name and size of the newest regular file of the SFTP directory
// (0 when there is none); reading a whole file (its size on success).
int link_determine_newest_file(std::string& name);
int link_read_file(const std::string& name, long size, std::string& out);
