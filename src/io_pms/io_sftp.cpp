#include "io_pms/io_sftp.h"

#include <fcntl.h>
#include <libssh2.h>
#include <libssh2_sftp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "config.h"
#include "io_pms/io_inet.h"
#include "io_pms/sftp_settings.h"
#include "link.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "io_pms/io_sftp";

void SshSessionFree::operator()(_LIBSSH2_SESSION* s) const { libssh2_session_free(s); }

namespace {

constexpr EndpointTexts kSftpTexts{
    "io_sftp_init: Unable to parse SFTP settings from config option PMSCOMMOPTS",
    "io_sftp_init: Invalid PMSCOMMOPTS for SFTP.  Must be a valid IP address",
    "io_sftp_init: Invalid PMSCOMMOPTS for SFTP.  Must be a valid port number",
    "io_sftp_init: Unable to parse local SFTP settings from config option PMSCOMMSRCOPTS",
    "io_sftp_init: Invalid PMSCOMMSRCOPTS for SFTP. Must be a valid IP address",
    "io_sftp_init: Invalid PMSCOMMSRCOPTS for SFTP. Must be a valid port number",
};

constexpr char kGoodbye[] = "Normal Shutdown, Thank you for playing";
// A guest list is far smaller; a larger file is not taken into memory.
constexpr uint64_t kMaxFileSize = 64u * 1024 * 1024;
constexpr size_t kReadChunk = 32768;
constexpr size_t kNameMax = 1024;

// Bind, then a connect bounded by `timeout` seconds; the non-blocking socket
// or -1 with nothing left open.
int connect_bounded(const SftpLink& link) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        VLOG_ERRNO(1000, "io_sftp_open: Unable to create SFTP socket");
        return -1;
    }
    auto fail = [fd] {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    };
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&link.local), sizeof link.local) < 0) {
        std::string address = io_endpoint_address(link.local);
        VLOG_ERRNO(1000, "io_sftp_open: Unable to bind to local address '%s:%d'", address.c_str(),
                   io_endpoint_port(link.local));
        return fail();
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        VLOG_ERRNO(1000, "io_sftp_open: Unable to set non-blocking mode on SFTP socket");
        return fail();
    }
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&link.remote), sizeof link.remote);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int n;
        do {
            n = poll(&p, 1, static_cast<int>(std::min<unsigned>(link.timeout, INT_MAX / 1000)) * 1000);
        } while (n < 0 && errno == EINTR);
        int err = 0;
        socklen_t len = sizeof err;
        if (n == 0)
            err = ETIMEDOUT;
        else if (n < 0)
            err = errno;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
            err = errno;
        rc = err == 0 ? 0 : -1;
        errno = err;
    }
    if (rc < 0) {
        std::string address = io_endpoint_address(link.remote);
        VLOG_ERRNO(1000, "io_sftp_open: Unable to connect to remote address '%s' [%d]", address.c_str(), errno);
        return fail();
    }
    return fd;
}

std::string last_error(LIBSSH2_SESSION* s) {
    char* msg = nullptr;
    int len = 0;
    libssh2_session_last_error(s, &msg, &len, 0);
    return msg ? std::string(msg, static_cast<size_t>(std::max(len, 0))) : std::string();
}

// Ends a session that is logged in or half way there.
void end_session(SshSession& s, int& fd) {
    if (s) libssh2_session_disconnect_ex(s.get(), SSH_DISCONNECT_BY_APPLICATION, kGoodbye, "");
    s.reset();
    if (fd >= 0) close(fd);
    fd = -1;
}

// The SFTP subsystem of one operation, shut down when it ends.
class SftpChannel {
public:
    explicit SftpChannel(LIBSSH2_SESSION* s) : sftp_(s ? libssh2_sftp_init(s) : nullptr) {}
    ~SftpChannel() {
        if (sftp_) libssh2_sftp_shutdown(sftp_);
    }
    SftpChannel(const SftpChannel&) = delete;
    SftpChannel& operator=(const SftpChannel&) = delete;
    LIBSSH2_SFTP* get() const { return sftp_; }

private:
    LIBSSH2_SFTP* sftp_;
};

class SftpHandle {
public:
    explicit SftpHandle(LIBSSH2_SFTP_HANDLE* h) : h_(h) {}
    ~SftpHandle() {
        if (h_) libssh2_sftp_close_handle(h_);
    }
    SftpHandle(const SftpHandle&) = delete;
    SftpHandle& operator=(const SftpHandle&) = delete;
    LIBSSH2_SFTP_HANDLE* get() const { return h_; }

private:
    LIBSSH2_SFTP_HANDLE* h_;
};

// The directory as the server knows it. "~/" means the login directory, but
// OpenSSH's SFTP server does not expand "~": ask it where "." is instead.
std::optional<std::string> remote_dir(LIBSSH2_SFTP* sftp, const std::string& dir) {
    std::string rest;
    if (dir.empty() || dir == "~")
        rest.clear();
    else if (dir.rfind("~/", 0) == 0)
        rest = dir.substr(2);
    else
        return dir;
    char home[kNameMax];
    int n = libssh2_sftp_realpath(sftp, ".", home, sizeof home);
    if (n <= 0) return std::nullopt;
    std::string out(home, static_cast<size_t>(n));
    if (!rest.empty()) out += (out.empty() || out.back() != '/' ? "/" : "") + rest;
    return out;
}

std::string join_path(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

void base64(std::string_view in, std::string& out) {
    static constexpr char tab[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    auto byte = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(in[k])); };
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        for (int s = 18; s >= 0; s -= 6) out += tab[(v >> s) & 63];
    }
    if (i + 1 == in.size()) {
        unsigned v = byte(i) << 16;
        out += tab[(v >> 18) & 63];
        out += tab[(v >> 12) & 63];
    } else if (i + 2 == in.size()) {
        unsigned v = byte(i) << 16 | byte(i + 1) << 8;
        out += tab[(v >> 18) & 63];
        out += tab[(v >> 12) & 63];
        out += tab[(v >> 6) & 63];
    }
}

std::string_view trimmed_fingerprint(std::string_view f) {
    while (!f.empty() && (f.front() == ' ' || f.front() == '\t')) f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '=')) f.remove_suffix(1);
    return f;
}

// Checks the server's host key against SFTP_HOSTKEY; true to go on.
bool host_key_accepted(LIBSSH2_SESSION* s, const SftpLink& link) {
    const std::string where = io_endpoint_address(link.remote) + ":" + std::to_string(io_endpoint_port(link.remote));
    const char* hash = libssh2_hostkey_hash(s, LIBSSH2_HOSTKEY_HASH_SHA256);
    if (!hash) {
        VLOG_ERROR(1000, "io_sftp_open: no host key fingerprint for %s; refusing the server", where.c_str());
        return false;
    }
    const std::string seen = io_sftp_fingerprint(std::string_view(hash, 32));
    if (link.hostkey.empty()) {
        VLOG_WARN(1000,
                  "io_sftp_open: host key of %s is not verified (SFTP_HOSTKEY not set); the server shows %s",
                  where.c_str(), seen.c_str());
        return true;
    }
    if (io_sftp_same_fingerprint(seen, link.hostkey)) {
        VLOG_DEBUG(4, 1000, "io_sftp_open: host key of %s verified [%s]", where.c_str(), seen.c_str());
        return true;
    }
    VLOG_ERROR(1000, "io_sftp_open: host key of %s does not match: the server shows %s, SFTP_HOSTKEY is %s; refusing the server",
               where.c_str(), seen.c_str(), link.hostkey.c_str());
    return false;
}

}  // namespace

std::string io_sftp_fingerprint(std::string_view sha256_digest) {
    std::string out = "SHA256:";
    base64(sha256_digest, out);
    return out;
}

bool io_sftp_same_fingerprint(std::string_view a, std::string_view b) {
    return trimmed_fingerprint(a) == trimmed_fingerprint(b);
}

std::optional<SftpLink> io_sftp_init() {
    VLOG_DEBUG(4, 1000, "io_sftp_init: enter");
    SftpLink link;
    auto remote = io_parse_remote_endpoint(kSftpTexts);
    if (!remote) return std::nullopt;
    auto local = io_parse_local_endpoint(kSftpTexts);
    if (!local) return std::nullopt;
    unsigned timeout = link_timeout();
    if (timeout == 0) return std::nullopt;

    auto user = setting_text(kSetSftpUser);
    if (!user) {
        VLOG_ERROR(1000, "io_sftp_init: SFTP_USERNAME value not defined");
        return std::nullopt;
    }
    auto password = setting_text(kSetSftpPassword);
    if (!password) {
        VLOG_ERROR(1000, "io_sftp_init: SFTP_PASSWORD value not defined");
        return std::nullopt;
    }
    if (auto dir = setting_text(kSetSftpDir))
        link.dir = *dir;
    else
        VLOG_DEBUG(4, 1000, "io_sftp_init: SFTP_DIR value not defined, using default");
    if (auto key = setting_text(kSetSftpHostKey)) link.hostkey = *key;

    link.remote = *remote;
    link.local = *local;
    link.timeout = timeout;
    link.user = *user;
    link.password = *password;
    const std::string address = io_endpoint_address(link.remote);
    VLOG_DEBUG(4, 1000, "io_sftp_init: ip[%u] [%s], port[%d], timeout[%d]",
               static_cast<unsigned>(link.remote.sin_addr.s_addr), address.c_str(), io_endpoint_port(link.remote),
               static_cast<int>(timeout));
    VLOG_DEBUG(4, 1000, "io_sftp_init: un[%s], pw[%s], dir[%s]", link.user.c_str(), "****", link.dir.c_str());
    VLOG_DEBUG(4, 1000, "io_sftp_init: exit");
    return link;
}

int io_sftp_open(SftpLink& link) {
    VLOG_DEBUG(4, 1000, "io_sftp_open: enter");
    static const int init_rc = libssh2_init(0);
    if (init_rc != 0) {
        VLOG_ERROR(1000, "io_sftp_open: libssh2 initialization failed (%d)", init_rc);
        return -1;
    }
    int fd = connect_bounded(link);
    if (fd < 0) return -1;

    SshSession s(libssh2_session_init_ex(nullptr, nullptr, nullptr, nullptr));
    if (!s) {
        VLOG_ERROR(1000, "io_sftp_open: Unable to init libssh2 session");
        close(fd);
        return -1;
    }
    libssh2_session_set_blocking(s.get(), 1);
    // Bounds every wait of a blocking call: a silent server fails the call.
    libssh2_session_set_timeout(s.get(), static_cast<long>(link.timeout) * 1000);
    int rc = libssh2_session_handshake(s.get(), fd);
    if (rc != 0) {
        VLOG_ERROR(1000, "io_sftp_open: Failure establishing SSH session: %d", rc);
        VLOG_DEBUG(2, 1000, "io_sftp_open: %s", last_error(s.get()).c_str());
        s.reset();
        close(fd);
        return -1;
    }
    if (!host_key_accepted(s.get(), link)) {
        end_session(s, fd);
        return -1;
    }
    rc = libssh2_userauth_password_ex(s.get(), link.user.data(), static_cast<unsigned>(link.user.size()),
                                      link.password.data(), static_cast<unsigned>(link.password.size()), nullptr);
    if (rc != 0) {
        VLOG_ERROR(1000, "io_sftp_open: libssh2 user auth failed");
        VLOG_DEBUG(2, 1000, "io_sftp_open: user [%s]: %s (%d)", link.user.c_str(), last_error(s.get()).c_str(), rc);
        end_session(s, fd);
        return -1;
    }
    link.session = std::move(s);
    link.fd = fd;
    VLOG_DEBUG(4, 1000, "io_sftp_open: exit");
    return fd;
}

void io_sftp_close(SftpLink& link) { end_session(link.session, link.fd); }

int io_sftp_find_newest_file_in_dir(SftpLink& link, std::string& name) {
    static constexpr char fn[] = "io_sftp_find_newest_file_in_dir";
    name.clear();
    SftpChannel sftp(link.session.get());
    if (!sftp.get()) {
        VLOG_ERROR(1000, "%s: failed to init sftp_session", fn);
        return -1;
    }
    auto dir = remote_dir(sftp.get(), link.dir);
    if (!dir) {
        VLOG_ERROR(1000, "%s: cannot resolve the login directory for [%s]: %s", fn, link.dir.c_str(),
                   last_error(link.session.get()).c_str());
        return -1;
    }
    SftpHandle handle(libssh2_sftp_open_ex(sftp.get(), dir->c_str(), static_cast<unsigned>(dir->size()), 0, 0,
                                           LIBSSH2_SFTP_OPENDIR));
    if (!handle.get()) {
        // The historical text; the next line says what happened.
        VLOG_ERROR(1000, "%s: failed to init sftp_session", fn);
        VLOG_ERROR(1000, "%s: cannot open directory [%s]: %s", fn, dir->c_str(),
                   last_error(link.session.get()).c_str());
        return -1;
    }

    unsigned long newest = 0;
    int size = 0;
    char entry[kNameMax];
    char longentry[kNameMax];
    for (;;) {
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        int n = libssh2_sftp_readdir_ex(handle.get(), entry, sizeof entry, longentry, sizeof longentry, &attrs);
        if (n == 0) break;
        if (n < 0) {
            // A partial listing could name an older file as the newest.
            VLOG_ERROR(1000, "%s: listing [%s] failed: %s", fn, dir->c_str(), last_error(link.session.get()).c_str());
            return -1;
        }
        const std::string mem(entry, static_cast<size_t>(n));
        const bool has_mode = attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS;
        if (has_mode && LIBSSH2_SFTP_S_ISDIR(attrs.permissions)) {
            VLOG_DEBUG(4, 1000, "%s: skipping directory: [%s]", fn, mem.c_str());
            continue;
        }
        if (!has_mode || !LIBSSH2_SFTP_S_ISREG(attrs.permissions)) {
            VLOG_DEBUG(4, 1000, "%s: skipping, not a regular file: [%s]", fn, mem.c_str());
            continue;
        }
        VLOG_DEBUG(4, 1000, "%s: mem[%s], mtime[%d], size[%d]", fn, mem.c_str(), static_cast<int>(attrs.mtime),
                   static_cast<int>(attrs.filesize));
        if (attrs.filesize > kMaxFileSize) {
            VLOG_ERROR(1000, "%s: skipping [%s]: %llu bytes is more than a guest file can hold", fn, mem.c_str(),
                       static_cast<unsigned long long>(attrs.filesize));
            continue;
        }
        if (attrs.mtime > newest) {
            newest = attrs.mtime;
            size = static_cast<int>(attrs.filesize);
            name = mem;
        }
    }
    if (!name.empty()) VLOG_DEBUG(4, 1000, "%s: returning filename[%s]", fn, name.c_str());
    VLOG_DEBUG(4, 1000, "%s: exit retval [%d]", fn, size);
    return size;
}

int io_sftp_read_file(SftpLink& link, const std::string& name, long size, std::string& out) {
    static constexpr char fn[] = "io_sftp_read_file";
    out.clear();
    VLOG_DEBUG(4, 1000, "%s: enter", fn);
    SftpChannel sftp(link.session.get());
    if (!sftp.get()) {
        VLOG_ERROR(1000, "%s: failed to init sftp_session", fn);
        return -1;
    }
    auto dir = remote_dir(sftp.get(), link.dir);
    if (!dir) {
        VLOG_ERROR(1000, "%s: cannot resolve the login directory for [%s]", fn, link.dir.c_str());
        return -1;
    }
    const std::string path = join_path(*dir, name);
    VLOG_DEBUG(4, 1000, "%s: filename[%s], size[%d]", fn, path.c_str(), static_cast<int>(size));
    SftpHandle file(libssh2_sftp_open_ex(sftp.get(), path.c_str(), static_cast<unsigned>(path.size()),
                                         LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE));
    if (!file.get()) {
        VLOG_ERROR(1000, "%s: failed to open sftp_handle", fn);
        VLOG_ERROR(1000, "%s: [%s]: %s", fn, path.c_str(), last_error(link.session.get()).c_str());
        return -1;
    }
    const size_t want = static_cast<size_t>(std::clamp<long>(size, 0, static_cast<long>(kMaxFileSize)));
    out.reserve(want);
    char chunk[kReadChunk];
    while (out.size() < want) {
        ssize_t n = libssh2_sftp_read(file.get(), chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            // Half a guest list would check out everybody in the other half.
            VLOG_ERROR(1000, "%s: reading [%s] failed: %s", fn, path.c_str(), last_error(link.session.get()).c_str());
            out.clear();
            return -1;
        }
        // A file that grew since it was listed is read up to the listed size.
        out.append(chunk, std::min(static_cast<size_t>(n), want - out.size()));
    }
    return static_cast<int>(out.size());
}
