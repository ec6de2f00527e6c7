// A scripted FIAS PMS for tests: the far end of the daemon's PMS link, over a
// loopback TCP listener or the master side of a pseudo-terminal. The test
// drives it step by step while the vendor code runs on another thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class FiasPeer {
public:
    // Listens on 127.0.0.1 (a free port); the daemon connects to it.
    static std::unique_ptr<FiasPeer> tcp();
    // A pseudo-terminal; the daemon opens slavePath() as its serial device.
    static std::unique_ptr<FiasPeer> serial();
    ~FiasPeer();

    bool isSerial() const { return serial_; }
    // The wire rules to play: frames with an LRC, and ACK/NAK answers. By
    // default both hold on the serial line only.
    void setWire(bool lrc, bool acks) {
        lrc_ = lrc;
        acks_ = acks;
    }
    bool lrc() const { return lrc_; }
    bool acks() const { return acks_; }
    // LRCs and ACK/NAK on TCP too, for a vendor that works that way on every link.
    void useSerialRules() { setWire(true, true); }
    int port() const { return port_; }
    const std::string& slavePath() const { return slave_path_; }
    // PMSCOMMTYPE and PMSCOMMOPTS lines for the daemon's configuration.
    std::string linkConfig() const;

    // TCP: accepts the daemon's connection (waits up to timeout_ms).
    bool accept(int timeout_ms = 5000);

    // Frame around a body: STX body ETX, plus the LRC on the serial line.
    std::string frame(std::string_view body) const;
    static char lrc(std::string_view text);

    // Sends a framed record. On the serial line with `wait_ack`, reads the
    // daemon's answer byte and returns it (0 when none came).
    char sendRecord(std::string_view body, bool wait_ack = true, int timeout_ms = 5000);
    void sendRaw(std::string_view bytes);
    // Cuts the link: closes the socket or the pseudo-terminal's master.
    void hangUp();

    // Reads one frame and returns its body; on the serial line checks the LRC
    // (lastLrcOk()) and answers `answer` (ACK by default, 0 for nothing).
    std::optional<std::string> readRecord(int timeout_ms = 5000, char answer = 0x06);
    bool lastLrcOk() const { return last_lrc_ok_; }
    char lastLrc() const { return last_lrc_; }
    // Raw bytes: exactly n, or what came before the time-out.
    std::string readRaw(size_t n, int timeout_ms = 5000);
    // True when nothing arrives for `ms` milliseconds.
    bool quiet(int ms);

    // Pattern match of a body: a pattern field ending in '*' matches any
    // field that begins with the text before the '*' ("DA*" matches "DA261208").
    static bool matches(std::string_view pattern, std::string_view body);
    // readRecord + matches; on mismatch the body read is kept in lastBody().
    bool expectRecord(std::string_view pattern, int timeout_ms = 5000);
    const std::string& lastBody() const { return last_body_; }

private:
    FiasPeer() = default;
    int readByte(int timeout_ms);  // -1 time-out or error

    bool serial_ = false;
    bool lrc_ = false;
    bool acks_ = false;
    int listen_fd_ = -1;
    int fd_ = -1;  // connected socket or pty master
    int slave_fd_ = -1;
    int port_ = 0;
    std::string slave_path_;
    bool last_lrc_ok_ = false;
    char last_lrc_ = 0;
    std::string last_body_;
};

// Receives multicast announcements on 127.0.0.1 at a free port.
class McastWatch {
public:
    McastWatch();
    ~McastWatch();
    int port() const { return port_; }
    // Next datagram, or nullopt after timeout_ms.
    std::optional<std::string> next(int timeout_ms = 2000);

private:
    int fd_ = -1;
    int port_ = 0;
};
