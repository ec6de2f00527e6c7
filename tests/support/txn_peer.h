// The PMS end of a transaction-id link (GalaVu, Galaxy, HTNG) in a test:
// frames with the LRC over text and ETX, computed here on its own.
#pragma once

#include <string>

#include "loopback_peer.h"

std::string txnFrame(const std::string& text);

class TxnPeer {
public:
    explicit TxnPeer(StreamPeer& s) : s_(s) {}
    // Sends a record and returns the byte that answered it ("" for none).
    std::string send(const std::string& text, int timeout_ms = 3000) const;
    // The next record from the daemon within `timeout_ms`, acknowledged with
    // `answer` (ACK unless told; 0: left unanswered); "" when none came or its LRC was wrong.
    std::string expect(int timeout_ms = 3000, char answer = 0x06) const;
    // Answers a request the daemon sent: the record, then the reply of the
    // same id ("VER " by default) after acknowledging it.
    void answer(const std::string& request, const std::string& verb = "VER ") const;
    // The next byte from the daemon ("" for none within `timeout_ms`).
    std::string byte(int timeout_ms = 3000) const;
    StreamPeer& stream() const { return s_; }

private:
    StreamPeer& s_;
    mutable std::string pending_;  // bytes received but not yet taken
};

#include "daemon_harness.h"

enum class TxnTransport { Tcp, Pty };

// A daemon on a transaction-id vendor with the scripted PMS connected (over
// loopback TCP or a pseudo-terminal) and the start (STRT answered VER) done.
// Scans wait 600 s unless `extra` says otherwise, so that only the test
// starts them.
struct TxnRun {
    TxnRun() = default;
    TxnRun(const TxnRun&) = delete;
    TxnRun& operator=(const TxnRun&) = delete;
    ~TxnRun();
    DaemonHarness d;
    TcpListener pms;
    StreamPeer peer;
    int pty_slave = -1;  // held open so that the master never reads EIO
    // Empty on success, else what went wrong.
    std::string start(const std::string& vendor, int id, const std::string& extra = "",
                      TxnTransport transport = TxnTransport::Tcp);
    TxnPeer tp{peer};
    TxnPeer& p() { return tp; }
    std::string control(const std::string& subtype, const std::string& data, int timeout_ms = 8000) const;
};
