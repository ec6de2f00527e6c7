#include "sim_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim_log.h"

namespace {

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 2000) <= 0) return false;
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

class TcpTransport : public SimTransport {
public:
    TcpTransport(int listen_fd, std::string where) : listen_fd_(listen_fd), where_(std::move(where)) {}
    ~TcpTransport() override {
        if (fd_ >= 0) close(fd_);
        close(listen_fd_);
    }
    bool serial() const override { return false; }
    const std::string& where() const override { return where_; }
    bool connected() const override { return fd_ >= 0; }

    void addPollFds(std::vector<pollfd>& fds) override {
        fds.push_back({listen_fd_, POLLIN, 0});
        if (fd_ >= 0) fds.push_back({fd_, POLLIN, 0});
    }

    void service(const std::vector<pollfd>& fds, Listener& listener) override {
        for (const auto& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == listen_fd_) {
                acceptOne(listener);
            } else if (p.fd == fd_) {
                char buf[4096];
                ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0) {
                    listener.received(std::string(buf, static_cast<size_t>(n)));
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    sim_note("connection closed by the interface");
                    closeConnection(listener);
                }
            }
        }
    }

    bool write(const std::string& bytes) override { return fd_ >= 0 && writeAll(fd_, bytes); }

    bool hangUp(Listener& listener) override {
        if (fd_ < 0) return true;
        sim_note("dropping the connection");
        closeConnection(listener);
        return true;
    }

private:
    void acceptOne(Listener& listener) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len);
        if (fd < 0) return;
        if (fd_ >= 0) {
            sim_note("a new connection replaces the old one");
            closeConnection(listener);
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd_ = fd;
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
        sim_note("connection from %s:%d", addr, ntohs(peer.sin_port));
        listener.connected();
    }

    void closeConnection(Listener& listener) {
        close(fd_);
        fd_ = -1;
        listener.disconnected();
    }

    int listen_fd_;
    int fd_ = -1;
    std::string where_;
};

class PtyTransport : public SimTransport {
public:
    PtyTransport(int master, std::string path) : master_(master), path_(std::move(path)) {}
    ~PtyTransport() override { close(master_); }
    bool serial() const override { return true; }
    const std::string& where() const override { return path_; }
    bool connected() const override { return open_; }

    // Without a process on the slave side the master reports a hang-up at
    // once, so it is polled for input only while the slave is open; the
    // open is noticed by checking for the hang-up at every turn.
    void addPollFds(std::vector<pollfd>& fds) override {
        bool now_open = slaveOpen();
        if (now_open) fds.push_back({master_, POLLIN, 0});
        pending_change_ = now_open != open_;
    }

    void service(const std::vector<pollfd>& fds, Listener& listener) override {
        if (pending_change_) {
            open_ = !open_;
            pending_change_ = false;
            if (open_) {
                sim_note("the interface opened %s", path_.c_str());
                listener.connected();
            } else {
                sim_note("the interface closed %s", path_.c_str());
                listener.disconnected();
            }
        }
        for (const auto& p : fds) {
            if (p.fd != master_ || !(p.revents & POLLIN)) continue;
            char buf[4096];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) listener.received(std::string(buf, static_cast<size_t>(n)));
        }
    }

    bool write(const std::string& bytes) override { return open_ && writeAll(master_, bytes); }
    bool hangUp(Listener&) override { return false; }

private:
    bool slaveOpen() const {
        pollfd p{master_, 0, 0};
        return poll(&p, 1, 0) == 0 || !(p.revents & POLLHUP);
    }

    int master_;
    std::string path_;
    bool open_ = false;
    bool pending_change_ = false;
};

// Files in a directory: no descriptor, no connection to watch.
class FilesTransport : public SimTransport {
public:
    explicit FilesTransport(std::string dir) : dir_(std::move(dir)) {}
    bool serial() const override { return false; }
    const std::string& where() const override { return dir_; }
    bool connected() const override { return true; }
    void addPollFds(std::vector<pollfd>&) override {}
    void service(const std::vector<pollfd>&, Listener&) override {}
    bool write(const std::string&) override { return false; }
    bool hangUp(Listener&) override { return false; }

private:
    std::string dir_;
};

}  // namespace

std::unique_ptr<SimTransport> sim_files_open(const std::string& dir, std::string& error) {
    if (dir.empty() || access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write to directory '" + dir + "': " + strerror(errno);
        return nullptr;
    }
    return std::make_unique<FilesTransport>(dir);
}

std::unique_ptr<SimTransport> sim_tcp_listen(const std::string& host_port, std::string& error) {
    auto colon = host_port.rfind(':');
    if (colon == std::string::npos) {
        error = "--listen wants HOST:PORT";
        return nullptr;
    }
    std::string host = host_port.substr(0, colon);
    std::string port_text = host_port.substr(colon + 1);
    char* end = nullptr;
    long port = strtol(port_text.c_str(), &end, 10);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (port_text.empty() || *end != '\0' || port < 0 || port > 65535 ||
        inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        error = "--listen wants a dotted IPv4 address and a port 0-65535: " + host_port;
        return nullptr;
    }
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        error = "cannot listen on " + host_port + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return std::make_unique<TcpTransport>(fd, host + ":" + std::to_string(ntohs(addr.sin_port)));
}

std::unique_ptr<SimTransport> sim_serial_open(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
        if (master >= 0) close(master);
        return nullptr;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal";
        close(master);
        return nullptr;
    }
    // Raw mode from the start: no echo of our frames, no line editing, even
    // before the daemon sets its own line settings. They stay with the
    // terminal after this descriptor is closed.
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
        close(slave);
    }
    return std::make_unique<PtyTransport>(master, name);
}
