// What an operator wants to know at a glance: the vendor, whether the PMS
// link is up, whether the interface is READY or BUSY, the last thing the PMS
// sent and when, and the last posting. The service manager gets it as its
// status line; a control client asks for it with request 90.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

// Request subtype of the daemon status. Outside 01-14 on purpose: it is not a
// vendor request, it is answered while the PMS is unavailable too, and no
// vendor slot is involved.
inline constexpr int PMS_REQ_DAEMON_STATUS = 90;

struct PmsStatus {
    std::string vendor;       // VENDOR as configured; empty when unset
    bool link_up = false;
    bool ready = false;       // control server READY (else BUSY)
    std::string last_record;  // printable form, at most kRecordShown characters
    time_t last_record_time = 0;
    time_t last_post = 0;     // time of the last successful posting; 0: none yet
};

inline constexpr size_t kRecordShown = 64;

// Called for every read from the PMS that brought data. Reads shorter than
// three bytes (STX, ACK, NAK, an LRC byte) and reads without a printable
// character do not count as records.
void pms_status_note_record(std::string_view data);
// Forgets the last record (tests).
void pms_status_reset();

PmsStatus pms_status_now();
// The control answer: one "key=value" line each for vendor, link, server,
// record_time, record, last_post (times as seconds since the epoch, 0: never).
std::string pms_status_answer(const PmsStatus& s);
struct ServerMessage;
// Answers `msg` when it is the daemon status request (type 01, subtype 90,
// empty data) with one type-02 message holding pms_status_answer; true when
// it was that request (the caller closes the connection), false for any
// other message, which is left to the vendor dispatch.
bool pms_status_serve(int fd, const ServerMessage& msg);

// One line for the service manager, e.g.
// "link up, Micros-Fidelio 2-way, READY, last posting 2026-12-08 11:05:00".
std::string pms_status_line(const PmsStatus& s);
