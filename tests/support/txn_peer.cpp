#include "txn_peer.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

std::string txnFrame(const std::string& text) {
    unsigned char lrc = 0x03;
    for (char c : text) lrc ^= static_cast<unsigned char>(c);
    return "\x02" + text + "\x03" + std::string(1, static_cast<char>(lrc));
}

std::string TxnPeer::byte(int timeout_ms) const {
    if (pending_.empty()) pending_ = s_.receive(1, timeout_ms);
    if (pending_.empty()) return "";
    std::string b = pending_.substr(0, 1);
    pending_.erase(0, 1);
    return b;
}

std::string TxnPeer::send(const std::string& text, int timeout_ms) const {
    if (!s_.send(txnFrame(text))) return "";
    return byte(timeout_ms);
}

std::string TxnPeer::expect(int timeout_ms, char answer) const {
    std::string got;
    for (;;) {
        std::string b = byte(timeout_ms);
        if (b.empty()) return "";
        if (got.empty() && b[0] != 0x02) continue;  // stray ACKs between frames
        got += b;
        if (b[0] == 0x03) break;
    }
    std::string lrc = byte(timeout_ms);
    if (lrc.empty()) return "";
    std::string text = got.substr(1, got.size() - 2);
    if (txnFrame(text).back() != lrc[0]) return "";
    if (answer != 0) s_.send(std::string(1, answer));
    return text;
}

void TxnPeer::answer(const std::string& request, const std::string& verb) const {
    send(request.substr(0, 4) + "9999" + verb);
}

#include "ctl_support.h"

TxnRun::~TxnRun() {
    if (pty_slave >= 0) close(pty_slave);
}

std::string TxnRun::start(const std::string& vendor, int id, const std::string& extra, TxnTransport transport) {
    d.db().exec("INSERT INTO port_room_status (prs_room_no) VALUES ('101')");
    std::string link;
    if (transport == TxnTransport::Pty) {
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {};
        int master = -1;
        if (openpty(&master, &pty_slave, name, &raw, nullptr) != 0) return "no pseudo-terminal";
        peer = StreamPeer(master);
        link = std::string("PMSCOMMTYPE=RS232\nPMSCOMMOPTS=") + name + "|9600|8|N|1\n";
    }
    if (!d.start(pms.port(), link + extra + "VENDOR=" + vendor +
                                 "\nPOSTDELAY=600\nGALAVU_WAIT_TIMEOUT=3\nFLUSHTIMEOUT=0\n"))
        return "not started";
    if (transport == TxnTransport::Tcp) peer = pms.accept(10000);
    if (peer.fd() < 0) return "no connection: " + d.log();
    const std::string strt = tp.expect(5000);
    if (strt != "S1019999STRT") return "no STRT but [" + strt + "]: " + d.log();
    tp.answer(strt);
    if (!d.waitLog("pms_init: g_vendor_id = " + std::to_string(id), 5000)) return "not ready: " + d.log();
    return "";
}

std::string TxnRun::control(const std::string& subtype, const std::string& data, int timeout_ms) const {
    return controlRequest(d.controlPort(), frame("01", subtype, data), timeout_ms);
}
