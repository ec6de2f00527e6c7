// Framing and exchanges of the transaction-id protocols.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vendor.h"
#include "vendors/txn/txn_profile.h"

// Record header: id 0-3, sequence 4-7, verb 8-11, fields from 12.
inline constexpr size_t kTxnHeader = 12;
inline constexpr char kTxnLast[] = "9999";

// Header parts, empty when the record is too short to hold them.
std::string_view txn_id(std::string_view record);
std::string_view txn_verb(std::string_view record);
bool txn_is_last(std::string_view record);

// A new transaction id, "S%03d" from the database's message sequence.
std::string txn_new_id();

// Sends one record and waits for its ACK, with the profile's retries and
// pauses; a record the PMS sends instead of the ACK is handled afterwards.
// 1 sent, 0 not.
int txn_write_msg(TxnVendor& v, const std::string& text);
// One record within `timeout` seconds (0: only what is waiting): its length,
// 0 for nothing usable, -1 for an error or nothing before the time-out.
int txn_read_msg_timeout(TxnVendor& v, int timeout, std::string& record);
// Handles every record that arrives before a pause.
void txn_read_msg_flush(TxnVendor& v);
// The same, but the records join the queue.
void txn_read_msgs_onto_queue(TxnVendor& v);
// Handles the queued records in arrival order.
void txn_handle_msgs_on_queue(TxnVendor& v);

// "%4s9999VER " / "%4s9999ERR " for the record `id`: Ok when sent.
ReqResult txn_send_ver(TxnVendor& v, std::string_view id);
ReqResult txn_send_err(TxnVendor& v, std::string_view id);

// Sends `text` (whose id is `id`) and waits for its VER or ERR; records of
// other verbs met on the way are handled after the answer. Ok on VER.
ReqResult txn_request_and_response(TxnVendor& v, const std::string& id, const std::string& text);

// The ERR code of `record` (0 when it cannot be read); its text is appended
// to `reply`.
int txn_parse_error(TxnVendor& v, const std::string& record, std::string& reply);
// The profile's text of an ERR code.
std::string txn_error_text(const TxnProfile& p, int code);

// The next record: the oldest queued one, else one read within `timeout`
// seconds (as txn_read_msg_timeout).
int txn_next_record(TxnVendor& v, int timeout, std::string& record);

// Marks the link as collecting an answer while it lives; at its end the
// records queued meanwhile are handled (by the outermost collector).
class TxnCollecting {
public:
    explicit TxnCollecting(TxnVendor& v);
    ~TxnCollecting();
    TxnCollecting(const TxnCollecting&) = delete;
    TxnCollecting& operator=(const TxnCollecting&) = delete;

private:
    TxnVendor& v_;
    bool was_;
};

// A multi-record answer to request `id`: the text from position 8 of every
// record whose verb is in `wanted` becomes a line. The first record is
// awaited `first_wait` seconds, the others `next_wait`; the answer ends at a
// wanted record marked last or at a pause. `what` names the request (DISP).
ReqResult txn_collect(TxnVendor& v, const std::string& id, const std::vector<std::string>& wanted, const char* what,
                      int first_wait, int next_wait, std::vector<std::string>& lines, std::string& reply);
