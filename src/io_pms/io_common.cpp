#include "io_pms/io_common.h"
#include "io_pms/io_wait.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <charconv>
#include <ctime>

#include "platform/log.h"

static constexpr char kLogSrc[] = "io_pms/io_common";

namespace {

struct DatagramRest {
    int fd = -1;
    std::string bytes;  // the datagram last received
    size_t used = 0;    // how much of it was delivered
    size_t left() const { return bytes.size() - used; }
};
DatagramRest g_rest;

// read() for the readers: on the datagram socket it delivers what is left of
// the last datagram before receiving the next one.
ssize_t read_some(int fd, char* buf, size_t len) {
    if (fd != g_rest.fd) return read(fd, buf, len);
    if (g_rest.left() == 0) {
        g_rest.bytes.resize(65536);
        ssize_t got = recv(fd, g_rest.bytes.data(), g_rest.bytes.size(), 0);
        g_rest.bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        g_rest.used = 0;
        if (got <= 0) return got;
    }
    size_t n = std::min(len, g_rest.left());
    g_rest.bytes.copy(buf, n, g_rest.used);
    g_rest.used += n;
    return static_cast<ssize_t>(n);
}

}  // namespace

void ioc_datagram_begin(int fd) {
    g_rest = DatagramRest{};
    g_rest.fd = fd;
}

void ioc_datagram_end(int fd) {
    if (g_rest.fd == fd) g_rest = DatagramRest{};
}

int ioc_wait_readable(int fd, int timeout) {
    if (fd == g_rest.fd && g_rest.left() > 0) return 1;
    // A signal handler that only records its signal must not break the link;
    // the control port is served while the link is silent.
    return io_wait_readable_serving(fd, std::clamp(timeout, 0, INT_MAX / 1000) * 1000);
}

int ioc_read_nbytes(int fd, int timeout, std::string& out, int count) {
    out.clear();
    if (fd < 0 || count < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        return -1;
    }
    VLOG_DEBUG(4, 1000, "Enter ioc_read_nbytes(): fd[%d] timeout[%d] nbytes[%d]", fd, timeout, count);

    int ready = ioc_wait_readable(fd, timeout);
    if (ready < 0) {
        VLOG_ERROR(1000, "ioc_read_nbytes(): select() on fd %d for %d bytesleft of %d nbytes returned -1, COMM ERROR",
                   fd, count, count);
        return -1;
    }
    if (ready == 0) {
        VLOG_DEBUG(4, 1000, "ioc_read_nbytes(): select() timeout on fd %d for %d bytesleft of %d nbytes", fd, count,
                   count);
        return 0;
    }

    out.assign(static_cast<size_t>(count), '\0');
    int done = 0;
    while (done < count) {
        int left = count - done;
        VLOG_DEBUG(4, 1000, "ioc_read_nbytes(): select() on fd %d returned nonzero, read()ing %d bytesleft of %d nbytes",
                   fd, left, count);
        ssize_t got = read_some(fd, out.data() + done, static_cast<size_t>(left));
        VLOG_DEBUG(4, 1000, "ioc_read_nbytes(): read() on fd %d of %d bytesleft of %d nbytes returned %d", fd, left,
                   count, static_cast<int>(got));
        if (got > 0) {
            done += static_cast<int>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        out.resize(static_cast<size_t>(done));
        if (got == 0)
            VLOG_ERROR(1000, "ioc_read_nbytes(): read() on fd %d of %d bytesleft of %d nbytes found EOF, COMM ERROR", fd,
                       left, count);
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            VLOG_ERROR(1000, "ioc_read_nbytes(): read() on fd %d of %d bytesleft of %d nbytes threw EAGAIN, COMM ERROR",
                       fd, left, count);
        else
            VLOG_ERROR(1000, "ioc_read_nbytes(): read() on fd %d of %d bytesleft of %d nbytes threw %d, COMM ERROR", fd,
                       left, count, errno);
        return -1;
    }
    VLOG_DEBUG(4, 1000, "ioc_read_nbytes(): returning %d (nbytes)", count);
    return count;
}

namespace {

// The two delimiter readers differ only in their end-of-file result and in
// which of their steps leave a log line.
struct DelimReader {
    const char* name;  // "ioc_read_delim" or "ioc_read_delims"
    bool verbose;      // ioc_read_delim traces every step
    bool eof_is_timeout;
};

int read_record(const DelimReader& r, int fd, int timeout, std::string_view delims, std::string& out) {
    out.clear();
    if (r.verbose) VLOG_DEBUG(4, 1000, "%s: reading for timeout %d", r.name, timeout);
    if (fd < 0 || fd >= FD_SETSIZE) {
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: failed sanity check", r.name);
        errno = EBADF;
        return -1;
    }
    if (!r.verbose) VLOG_DEBUG(4, 1000, "%s: reading for timeout %d", r.name, timeout);

    const time_t start = time(nullptr);
    std::string record;
    record.reserve(256);
    for (;;) {
        int ready = ioc_wait_readable(fd, timeout);
        if (ready == 0) return 0;
        if (ready < 0) {
            if (r.verbose) VLOG_DEBUG(4, 1000, "%s: select < 0", r.name);
            return -1;
        }
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: select returned %d", r.name, ready);

        char byte = 0;
        ssize_t got = read_some(fd, &byte, 1);
        if (got == 1) {
            if (record.size() >= static_cast<size_t>(kIocMaxRecord)) {
                VLOG_ERROR(1000, "%s(): Exceeded max buffer size of %u", r.name, kIocMaxRecord + 1u);
                return -1;
            }
            record.push_back(byte);
            if (delims.find(byte) != std::string_view::npos) break;
            continue;
        }
        if (got == 0) {
            if (r.eof_is_timeout) return 0;
            VLOG_DEBUG(4, 1000, "%s: EOF, return -1", r.name);
            return -1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (time(nullptr) - start >= timeout) {
                VLOG_ERROR(1000, "%s: %s and timeout time to break out, read failure", r.name,
                           errno == EINTR ? "EINTR" : "EAGAIN");
                return -1;
            }
            usleep(100);
            continue;
        }
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: read returned < 0 with errno %d", r.name, errno);
        return -1;
    }

    // Records are handed on as text: one that starts with NUL would read as
    // empty, which every caller takes for "nothing read".
    if (record[0] == '\0') {
        errno = ENOMEM;
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: ENOMEM", r.name);
        return -1;
    }
    out = std::move(record);
    if (r.verbose) VLOG_DEBUG(4, 1000, "%s() returning %d bytes", r.name, static_cast<int>(out.size()));
    return static_cast<int>(out.size());
}

}  // namespace

int ioc_read_delim(int fd, int timeout, char delim, std::string& out) {
    static const DelimReader reader{"ioc_read_delim", true, false};
    return read_record(reader, fd, timeout, std::string_view(&delim, 1), out);
}

int ioc_read_delims(int fd, int timeout, std::string_view delims, std::string& out) {
    static const DelimReader reader{"ioc_read_delims", false, true};
    return read_record(reader, fd, timeout, delims, out);
}

int fd_write_all(int fd, std::string_view bytes) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
    return static_cast<int>(done);
}

std::optional<long> io_scan_number(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() + i) return std::nullopt;
    return negative ? -value : value;
}
