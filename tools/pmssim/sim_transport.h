// Where the simulated PMS meets the daemon: a TCP listener on which the
// daemon connects (one connection at a time; a new one replaces the old), a
// pseudo-terminal whose slave side the daemon opens as its serial device, or
// a directory the PMS drops files into (served to the daemon by an SFTP
// server; nothing flows the other way).
#pragma once

#include <poll.h>

#include <memory>
#include <string>
#include <vector>

class SimTransport {
public:
    struct Listener {
        virtual ~Listener() = default;
        virtual void connected() = 0;
        virtual void disconnected() = 0;
        virtual void received(const std::string& bytes) = 0;
    };

    virtual ~SimTransport() = default;
    // Frames on this transport carry an LRC and are acknowledged.
    virtual bool serial() const = 0;
    // "127.0.0.1:5010" or the slave device path.
    virtual const std::string& where() const = 0;
    virtual bool connected() const = 0;
    // Descriptors to poll; then service() with the poll results.
    virtual void addPollFds(std::vector<pollfd>& fds) = 0;
    virtual void service(const std::vector<pollfd>& fds, Listener& listener) = 0;
    // All bytes written; false when the peer is gone.
    virtual bool write(const std::string& bytes) = 0;
    // Breaks the connection; false when the transport cannot (serial line).
    virtual bool hangUp(Listener& listener) = 0;
};

// "HOST:PORT" (port 0: a free one); nullptr with `error`.
std::unique_ptr<SimTransport> sim_tcp_listen(const std::string& host_port, std::string& error);
// A new pseudo-terminal in raw mode.
std::unique_ptr<SimTransport> sim_serial_open(std::string& error);
// An existing writable directory; where() is its path.
std::unique_ptr<SimTransport> sim_files_open(const std::string& dir, std::string& error);
