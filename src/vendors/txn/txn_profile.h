// The transaction-id protocols (GalaVu, Galaxy, HTNG): fixed-layout text
// records in STX/ETX/LRC frames, each beginning with a transaction id
// "S%03d", a record sequence ("9999" = last record) and a four-character verb.
// One core does ids, framing, the request/response exchange with its queue of
// out-of-turn records, VER/ERR, multi-record answers and the start/stop/swap
// records; a TxnProfile carries what differs in timing and texts, and each
// vendor keeps one lasting TxnVendor.
#pragma once

#include <ctime>
#include <deque>
#include <map>
#include <string>

#include "vendors/common/unserved.h"

struct TxnProfile {
    const char* name;    // registry name, "GalaVu 2-way"
    const char* prefix;  // operation prefix of the log texts, "galavu"
    const char* brand;   // "GalaVu": "the max %s permits", "%s DB Resync has completed"

    // Framing.
    int ack_wait;            // seconds to wait for ACK/NAK after a frame
    int nak_pause;           // seconds of pause after a NAK before the resend
    bool lf_as_lrc;          // an LF in the LRC's place is accepted unchecked
    bool skip_noise;         // stray bytes before STX are skipped, not fatal
    bool flush_waiting_only; // flushes read only what is already waiting

    // Answers: fixed wait in seconds, or 0 to read GALAVU_WAIT_TIMEOUT.
    int answer_wait;
    // ERR code texts; other codes read "Unknown error id [%d]".
    std::map<int, const char*> errors;
    bool error_text_to_reply;  // the code's text goes to the caller's reply

    // Requests: whether the folio, messages, message deletion and room status
    // go to the PMS; which slots answer "Not supported by vendor". Every other
    // slot the vendor has no handler for answers 3.
    bool guest_requests;
    ReqSlots not_supported;
};

// The ERR code texts Galaxy and HTNG share.
inline const std::map<int, const char*> kTxnGalaxyErrors = {
    {0, "Undefined error"},
    {1, "Unknown command verb"},
    {2, "Unknown room number"},
    {3, "Room Unoccupied"},
    {4, "Unknown account number"},
    {5, "Account number not checked into room"},
    {6, "Invalid method of payment"},
    {9, "Night audit in progress"},
    {10, "Locked folio"}};

// Settings: read again at every start.
struct TxnSettings {
    int retries = 3;  // send attempts per record, at most 3
    int psi_no = 0;
    bool last_name_first = false;
    int wait = 60;    // seconds an answer is awaited
    int flush = 3;    // FLUSHTIMEOUT
    int read = 3;     // PMSCOMMTIMEOUT
};

// Belongs to one link: reset at every start.
struct TxnLinkState {
    std::deque<std::string> queue;  // records that arrived out of turn
    // Set while a multi-record answer is collected: a reply sent meanwhile
    // leaves what it read on the queue for the collector, which may be the
    // rest of that answer.
    bool collecting = false;
};

// Kept for the life of the daemon: what the status requests report.
struct TxnHistory {
    int swap = 0;  // 1 while a database swap is in progress
    time_t swap_time = 0;
    std::string last_code;
    time_t last_code_time = 0;
};

struct TxnState : TxnSettings, TxnLinkState, TxnHistory {};

struct TxnVendor {
    const TxnProfile& p;
    TxnState s;
};
