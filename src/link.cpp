#include "link.h"
#include "settings_core.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <thread>
#include <variant>

#include "config.h"
#include "io_pms/io_common.h"
#include "io_pms/io_rs232.h"
#include "io_pms/io_sftp.h"
#include "io_pms/io_tcp.h"
#include "io_pms/io_udp.h"
#include "platform/log.h"
#include "signals.h"
#include "start_dir.h"
#include "state.h"

static constexpr char kLogSrc[] = "link";

namespace {

using Transport = std::variant<TcpLink, UdpLink, Rs232Link, SftpLink>;

struct LinkRecord {
    uint32_t type;
    Transport transport;
};

// The link is open exactly while this exists.
std::unique_ptr<LinkRecord> g_link;

constexpr auto kWritePause = std::chrono::milliseconds(100);

// The byte stream under a TCP, UDP or serial link; nullptr for SFTP.
IoStream* link_stream() {
    if (auto* t = std::get_if<TcpLink>(&g_link->transport)) return t;
    if (auto* u = std::get_if<UdpLink>(&g_link->transport)) return u;
    if (auto* r = std::get_if<Rs232Link>(&g_link->transport)) return r;
    return nullptr;
}

std::unique_ptr<LinkRecord> link_init() {
    auto type = setting_text(kSetCommType);
    if (!type) {
        VLOG_ERROR(1000, "link_init: NULL communications type");
        return nullptr;
    }
    const char* name = type->c_str();
    if (strcasecmp(name, "TCP") == 0) {
        if (auto t = io_tcp_init()) return std::make_unique<LinkRecord>(LinkRecord{LINK_TYPE_TCP, std::move(*t)});
    } else if (strcasecmp(name, "UDP") == 0) {
        if (auto u = io_udp_init()) return std::make_unique<LinkRecord>(LinkRecord{LINK_TYPE_UDP, std::move(*u)});
    } else if (strcasecmp(name, "RS232") == 0) {
        if (auto r = io_rs232_init()) return std::make_unique<LinkRecord>(LinkRecord{LINK_TYPE_RS232, std::move(*r)});
    } else if (strcasecmp(name, "SFTP") == 0) {
        if (auto s = io_sftp_init()) return std::make_unique<LinkRecord>(LinkRecord{LINK_TYPE_SFTP, std::move(*s)});
    } else {
        VLOG_ERROR(1000, "link_init: Unhandled communications type");
        config_report_invalid("PMSCOMMTYPE");
    }
    return nullptr;
}

int transport_open(LinkRecord& rec) {
    return std::visit(
        [](auto& t) {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, TcpLink>) return io_tcp_open(t);
            if constexpr (std::is_same_v<T, UdpLink>) return io_udp_open(t);
            if constexpr (std::is_same_v<T, Rs232Link>) return io_rs232_open(t);
            if constexpr (std::is_same_v<T, SftpLink>) return io_sftp_open(t);
        },
        rec.transport);
}

void transport_close(LinkRecord& rec) {
    std::visit(
        [](auto& t) {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, TcpLink>) io_tcp_close(t);
            if constexpr (std::is_same_v<T, UdpLink>) io_udp_close(t);
            if constexpr (std::is_same_v<T, Rs232Link>) io_rs232_close(t);
            if constexpr (std::is_same_v<T, SftpLink>) io_sftp_close(t);
        },
        rec.transport);
}

bool closed_for_read(const char* fn) {
    if (g_link) return false;
    VLOG_ERROR(1000, "%s: Link isn't open. Must open link before reading", fn);
    return true;
}

// A failed transport read: the daemon's SIGPIPE handler closes the link.
// Nothing of the link may be used after the raise but the open/closed test.
void close_through_sigpipe(const char* fn, int number) {
    VLOG_ERRNO(1000, "%s: Error reading data from PMS", fn);
    if (number == 1)
        VLOG_DEBUG(4, 1000, "Raising SIGPIPE 1");
    else
        VLOG_DEBUG(4, 1000, "%s: Raising SIGPIPE %d", fn, number);
    if (pms_raise_link_sigpipe() != 0) {
        VLOG_ERROR(1000, "%s: Failed to raise sigpipe, exiting", fn);
        exit(1);
    }
    VLOG_DEBUG(4, 1000, "%s: After sigpipe raise, not sure if we get here", fn);
    if (g_link) {
        // No handler closed it (SIGPIPE ignored or blocked): a broken link
        // must not stay open.
        VLOG_WARN(1000, "%s: SIGPIPE left the PMS link open, closing it", fn);
        link_close();
    }
}

const char* shown(const std::string& record) { return record.empty() ? "(null)" : record.c_str(); }

}  // namespace

int link_open() {
    VLOG_DEBUG(4, 1000, "link_open: enter");
    if (g_link) {
        VLOG_WARN(1000, "link_open: Link is already open.. should close link first");
        link_close();
    }
    std::unique_ptr<LinkRecord> rec = link_init();
    pms_fd_client = -1;
    if (!rec) return -1;
    int fd = transport_open(*rec);
    if (fd < 0) return fd;
    g_link = std::move(rec);

    auto path = setting_text(kSetLinkLog);
    if (path) path = pms_path_from_start(*path);
    if (!path)
        VLOG_ERROR(1000, "link_open: LINKLOGFILE NULL");
    else if (!linklog_open(path))
        VLOG_ERRNO(1000, "link_open: Unable to open link log file '%s'", path->c_str());
    VLOG_DEBUG(4, 1000, "link_open: exit");
    pms_fd_client = fd;
    return fd;
}

void link_close() {
    linklog_close();
    if (!g_link) {
        VLOG_WARN(1000, "link_close: Attempting to close an already closed PMS link");
        return;
    }
    std::unique_ptr<LinkRecord> rec = std::move(g_link);
    transport_close(*rec);
    pms_fd_client = -1;
}

uint32_t link_type() {
    if (!g_link) {
        VLOG_ERROR(1000, "link_type: my_conn is null");
        return LINK_TYPE_CLOSED;
    }
    return g_link->type;
}

int link_fd() {
    if (!g_link) {
        VLOG_WARN(1000, "link_fd: Link is closed.. should open link before asking for file descriptor.");
        return -1;
    }
    if (IoStream* s = link_stream()) return s->fd;
    return std::get<SftpLink>(g_link->transport).fd;
}

unsigned link_timeout() {
    auto value = setting_text(kSetCommTimeout);
    if (!value) {
        VLOG_ERROR(1000,
                   "ling_timeout: Unable to retrieve PMS communications timeout value PMSCOMMTIMEOUT from the "
                   "configuration");
        config_report_invalid("PMSCOMMTIMEOUT");
        return 0;
    }
    // Negative or huge values would reach select() as nonsense time-outs.
    auto seconds = io_scan_number(*value);
    if (!seconds || *seconds < 0 || *seconds > INT_MAX) {
        VLOG_ERROR(1000, "ling_timeout: Invalid PMSCOMMTIMEOUT value.  Must be a non-negative number.");
        config_report_invalid("PMSCOMMTIMEOUT");
        return 0;
    }
    return static_cast<unsigned>(*seconds);
}

int link_write(std::string_view bytes) {
    if (!g_link) {
        VLOG_ERROR(1000, "link_write: Link isn't open! Must open link before writing");
        return 0;
    }
    const std::string text(bytes);
    const int length = static_cast<int>(bytes.size());
    VLOG_DEBUG(4, 1000, "link_write: Writing %d bytes to PMS: %s", length, text.c_str());
    int count = 0;
    if (IoStream* s = link_stream()) {
        LinkSigpipeScope own;
        count = fd_write_all(s->fd, bytes);
    }
    // A peer that has gone raises SIGPIPE inside the write, and the handler
    // may have closed the link: from here on only the traffic log is used.
    if (count < 0) VLOG_ERRNO(1000, "link_write: Error writing data to PMS");
    linklog_write(kLinkLogWritten, text);
    std::this_thread::sleep_for(kWritePause);
    VLOG_DEBUG(4, 1000, "link_write: Wrote %d bytes to PMS: %s", count, text.c_str());
    return count == length ? 1 : 0;
}

namespace {

int read_nbytes(const char* fn, int sigpipe_no, std::string& out, int count, const IoWait* timeout) {
    out.clear();
    if (closed_for_read(fn)) return -1;
    int result = 0;
    if (IoStream* s = link_stream())
        result = ioc_read_nbytes(s->fd, timeout ? *timeout : IoWait(static_cast<int>(s->timeout)), out, count);
    if (result < 0) close_through_sigpipe(fn, sigpipe_no);
    if (result > 0) VLOG_DEBUG(4, 1000, "%s: Read from PMS[%d]: '%s'", fn, result, out.c_str());
    linklog_write(kLinkLogRead, out);
    return result;
}

int read_delim(const char* fn, int sigpipe_no, char delim, const IoWait* timeout, std::string& out) {
    out.clear();
    if (closed_for_read(fn)) return -1;
    int result = 0;
    if (IoStream* s = link_stream())
        result = ioc_read_delim(s->fd, timeout ? *timeout : IoWait(static_cast<int>(s->timeout)), delim, out);
    if (result < 0) close_through_sigpipe(fn, sigpipe_no);
    VLOG_DEBUG(4, 1000, "%s: Read from PMS['%c'/%d]: '%s'", fn, delim, result, shown(out));
    linklog_write(kLinkLogRead, out);
    return result;
}

}  // namespace

int link_read_nbytes(std::string& out, int count) { return read_nbytes("link_read_nbytes", 6, out, count, nullptr); }

int link_read_nbytes_timeout(std::string& out, int count, IoWait timeout) {
    return read_nbytes("link_read_nbytes_timeout", 5, out, count, &timeout);
}

int link_read_delim(char delim, std::string& out) { return read_delim("link_read_delim", 3, delim, nullptr, out); }

int link_read_delim_timeout(char delim, IoWait timeout, std::string& out) {
    return read_delim("link_read_delim_timeout", 2, delim, &timeout, out);
}

int link_read_delims_timeout(std::string_view delims, IoWait timeout, std::string& out) {
    static constexpr char fn[] = "link_read_delims_timeout";
    out.clear();
    if (closed_for_read(fn)) return -1;
    int result = 0;
    if (IoStream* s = link_stream()) result = ioc_read_delims(s->fd, timeout, delims, out);
    if (result < 0) close_through_sigpipe(fn, 1);
    VLOG_DEBUG(4, 1000, "%s: Read from PMS[%d]: '%s'", fn, result, shown(out));
    linklog_write(kLinkLogRead, out);
    return result;
}

int link_read_with_timeout(std::string& out, IoWait timeout) {
    static constexpr char fn[] = "link_read_with_timeout";
    out.clear();
    if (closed_for_read(fn)) return -1;
    int result = 0;
    if (auto* tcp = std::get_if<TcpLink>(&g_link->transport)) {
        result = io_tcp_read_with_timeout(*tcp, out, timeout);
    } else if (g_link->type != LINK_TYPE_SFTP) {
        VLOG_ERROR(1000, "link_read_with_timeout: Unhandled communications type");
        return -1;
    }
    if (result < 0) close_through_sigpipe(fn, 4);
    if (result > 0) VLOG_DEBUG(4, 1000, "%s: Read from PMS[%d]: '%s'", fn, result, out.c_str());
    linklog_write(kLinkLogRead, out);
    return result;
}

int link_determine_newest_file(std::string& name) {
    static constexpr char fn[] = "link_determine_newest_file";
    name.clear();
    if (closed_for_read(fn)) return -1;
    auto* sftp = std::get_if<SftpLink>(&g_link->transport);
    if (!sftp) {
        VLOG_ERROR(1000, "link_determine_newest_file: Unhandled communications type");
        return 0;
    }
    int result = io_sftp_find_newest_file_in_dir(*sftp, name);
    if (result < 0) close_through_sigpipe(fn, 7);
    return result;
}

int link_read_file(const std::string& name, long size, std::string& out) {
    static constexpr char fn[] = "link_read_file";
    out.clear();
    if (closed_for_read(fn)) return -1;
    auto* sftp = std::get_if<SftpLink>(&g_link->transport);
    if (!sftp) {
        VLOG_ERROR(1000, "link_read_file: Unhandled communications type");
        return 0;
    }
    int result = io_sftp_read_file(*sftp, name, size, out);
    if (result < 0) close_through_sigpipe(fn, 8);
    if (result > 0) VLOG_DEBUG(4, 1000, "link_read_file: Read [%d] bytes from sftp server", result);
    return result;
}
