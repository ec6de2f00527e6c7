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
#include <chrono>
#include <ctime>

#include "platform/log.h"

static constexpr char kLogSrc[] = "io_pms/io_common";

namespace {

using Clock = std::chrono::steady_clock;

// Block size for stream reads: a few records of any protocol.
constexpr size_t kStreamBlock = 4096;
constexpr size_t kDatagramMax = 65536;

struct Kept {
    int fd = -1;
    bool datagram = false;
    std::string bytes;  // received, not yet delivered from `used` on
    size_t used = 0;
    size_t left() const { return bytes.size() - used; }
};
Kept g_kept;

bool buffered(int fd) { return fd >= 0 && fd == g_kept.fd; }

// Receives the next block (a whole datagram) into the kept bytes; the result
// of the read call.
ssize_t fill(int fd) {
    g_kept.bytes.resize(g_kept.datagram ? kDatagramMax : kStreamBlock);
    g_kept.used = 0;
    ssize_t got = g_kept.datagram ? recv(fd, g_kept.bytes.data(), g_kept.bytes.size(), 0)
                                  : read(fd, g_kept.bytes.data(), g_kept.bytes.size());
    g_kept.bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return got;
}

// Up to `len` bytes: what is kept first, else one read. Never more than asked
// from the descriptor itself on a stream, so that a fixed-length reader takes
// nothing beyond its record.
ssize_t read_some(int fd, char* buf, size_t len) {
    if (!buffered(fd)) return read(fd, buf, len);
    if (g_kept.left() == 0) {
        if (!g_kept.datagram) return read(fd, buf, len);
        ssize_t got = fill(fd);
        if (got <= 0) return got;
    }
    size_t n = std::min(len, g_kept.left());
    g_kept.bytes.copy(buf, n, g_kept.used);
    g_kept.used += n;
    return static_cast<ssize_t>(n);
}

}  // namespace

void ioc_buffer_begin(int fd, bool datagram) {
    g_kept = Kept{};
    g_kept.fd = fd;
    g_kept.datagram = datagram;
}

void ioc_buffer_end(int fd) {
    if (buffered(fd)) g_kept = Kept{};
}

void ioc_buffer_discard(int fd) {
    if (buffered(fd)) {
        g_kept.bytes.clear();
        g_kept.used = 0;
    }
}

size_t ioc_pending(int fd) { return buffered(fd) ? g_kept.left() : 0; }

int ioc_wait_readable(int fd, IoWait timeout) {
    if (ioc_pending(fd) > 0) return 1;
    // A signal handler that only records its signal must not break the link;
    // the control port is served while the link is silent.
    return io_wait_readable_serving(fd, static_cast<int>(std::clamp<long long>(timeout.ms, 0, INT_MAX)));
}

int ioc_read_nbytes(int fd, IoWait timeout, std::string& out, int count) {
    out.clear();
    if (fd < 0 || count < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        return -1;
    }
    VLOG_DEBUG(4, 1000, "Enter ioc_read_nbytes(): fd[%d] timeout[%d] nbytes[%d]", fd, timeout.seconds(),
               count);

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

// Next piece of a record: the kept bytes up to and including the first
// delimiter (or all of them), else one byte from a descriptor that is not
// buffered. The result of the read call; `found` says the record is complete.
ssize_t next_piece(int fd, std::string_view delims, std::string& piece, bool& found) {
    found = false;
    piece.clear();
    if (!buffered(fd)) {
        char byte = 0;
        ssize_t got = read(fd, &byte, 1);
        if (got == 1) {
            piece.push_back(byte);
            found = delims.find(byte) != std::string_view::npos;
        }
        return got;
    }
    if (g_kept.left() == 0) {
        ssize_t got = fill(fd);
        if (got <= 0) return got;
    }
    std::string_view avail(g_kept.bytes.data() + g_kept.used, g_kept.left());
    size_t end = avail.find_first_of(delims);
    found = end != std::string_view::npos;
    size_t take = found ? end + 1 : avail.size();
    piece.assign(avail.substr(0, take));
    g_kept.used += take;
    return static_cast<ssize_t>(take);
}

int read_record(const DelimReader& r, int fd, IoWait timeout, std::string_view delims, std::string& out) {
    out.clear();
    if (r.verbose) VLOG_DEBUG(4, 1000, "%s: reading for timeout %d", r.name, timeout.seconds());
    if (fd < 0 || fd >= FD_SETSIZE) {
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: failed sanity check", r.name);
        errno = EBADF;
        return -1;
    }
    if (!r.verbose) VLOG_DEBUG(4, 1000, "%s: reading for timeout %d", r.name, timeout.seconds());

    const auto start = Clock::now();
    std::string record;
    std::string piece;
    for (;;) {
        int ready = ioc_wait_readable(fd, timeout);
        if (ready == 0) return 0;
        if (ready < 0) {
            if (r.verbose) VLOG_DEBUG(4, 1000, "%s: select < 0", r.name);
            return -1;
        }
        if (r.verbose) VLOG_DEBUG(4, 1000, "%s: select returned %d", r.name, ready);

        bool found = false;
        ssize_t got = next_piece(fd, delims, piece, found);
        if (got > 0) {
            if (record.size() + piece.size() > static_cast<size_t>(kIocMaxRecord)) {
                VLOG_ERROR(1000, "%s(): Exceeded max buffer size of %u", r.name, kIocMaxRecord + 1u);
                return -1;
            }
            record += piece;
            if (found) break;
            continue;
        }
        if (got == 0) {
            if (r.eof_is_timeout) return 0;
            VLOG_DEBUG(4, 1000, "%s: EOF, return -1", r.name);
            return -1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            if (Clock::now() - start >= std::chrono::milliseconds(timeout.ms)) {
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

    // A record is handed on with its length, so a NUL in it (line noise on a
    // serial line, a NUL delimiter) is data like any other byte.
    out = std::move(record);
    if (r.verbose) VLOG_DEBUG(4, 1000, "%s() returning %d bytes", r.name, static_cast<int>(out.size()));
    return static_cast<int>(out.size());
}

}  // namespace

int ioc_read_delim(int fd, IoWait timeout, char delim, std::string& out) {
    static const DelimReader reader{"ioc_read_delim", true, false};
    return read_record(reader, fd, timeout, std::string_view(&delim, 1), out);
}

int ioc_read_delims(int fd, IoWait timeout, std::string_view delims, std::string& out) {
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
