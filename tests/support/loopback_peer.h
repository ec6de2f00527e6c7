// The PMS end of a link test: sockets on 127.0.0.1 that the test drives
// byte by byte.
#pragma once

#include <string>

// An accepted TCP connection (or any stream socket, or a pseudo-terminal's
// master) owned by the test.
class StreamPeer {
public:
    explicit StreamPeer(int fd = -1) : fd_(fd) {}
    ~StreamPeer();
    StreamPeer(StreamPeer&& other) noexcept;
    StreamPeer& operator=(StreamPeer&& other) noexcept;
    StreamPeer(const StreamPeer&) = delete;
    StreamPeer& operator=(const StreamPeer&) = delete;

    int fd() const { return fd_; }
    bool send(const std::string& bytes) const;  // never raises SIGPIPE
    // Sends one byte at a time with `gap_ms` between bytes.
    bool sendSlowly(const std::string& bytes, int gap_ms) const;
    // What arrives within `timeout_ms` (stops early once `want` bytes came).
    std::string receive(size_t want, int timeout_ms = 2000) const;
    int remotePort() const;
    void close();

private:
    int fd_;
};

// A listening TCP socket on 127.0.0.1 with a port of its own.
class TcpListener {
public:
    TcpListener();
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    int port() const { return port_; }
    // The next connection; an invalid peer (fd -1) when none comes in time.
    StreamPeer accept(int timeout_ms = 2000) const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// A UDP socket on 127.0.0.1 that answers whoever wrote to it last.
class UdpPeer {
public:
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    int port() const { return port_; }
    // One datagram within `timeout_ms` ("" when none); remembers its sender.
    std::string receive(int timeout_ms = 2000);
    int lastSenderPort() const { return sender_port_; }
    bool sendBack(const std::string& datagram) const;
    void close();

private:
    int fd_ = -1;
    int port_ = 0;
    int sender_port_ = 0;
};

// A TCP port on 127.0.0.1 that refuses connections (bound, not listening)
// for as long as the object lives.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port of `type` (SOCK_STREAM, SOCK_DGRAM) that was free a moment ago.
int freeLoopbackPort(int type);
