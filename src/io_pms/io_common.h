// Timed reads and complete writes on the non-blocking descriptor of the PMS
// link (serial device, TCP socket or connected UDP socket). They only report:
// closing the link after a failure is the link layer's job.
//
// Results: > 0 bytes delivered, 0 time-out (nothing delivered), -1 failure.
// A negative descriptor fails at once with -1 and errno EBADF.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What every stream transport record (TCP, UDP, RS232) starts with.
struct IoStream {
    int fd = -1;           // -1 until opened
    unsigned timeout = 0;  // PMSCOMMTIMEOUT, seconds
};

// Longest record a delimiter reader accepts, delimiter included.
inline constexpr int kIocMaxRecord = 65535;

// A read time-out. Settings give whole seconds, which convert implicitly;
// FLUSHTIMEOUT may also carry a fraction of a second.
struct IoWait {
    long long ms = 0;
    constexpr IoWait(int seconds) : ms(seconds * 1000LL) {}
    static constexpr IoWait millis(long long ms) {
        IoWait w(0);
        w.ms = ms;
        return w;
    }
    // Whole seconds, for log lines.
    constexpr int seconds() const { return static_cast<int>(ms / 1000); }
};

// The descriptor of the open link. Between these two calls the readers take
// it in blocks and keep the bytes after a record for their next call (one
// descriptor at a time: the link has only one). A datagram socket hands over
// one whole datagram per receive. Other descriptors are read one byte at a
// time, so that nothing after a record leaves the descriptor.
void ioc_buffer_begin(int fd, bool datagram);
void ioc_buffer_end(int fd);
// Drops what is kept for `fd` (a serial line whose input is flushed).
void ioc_buffer_discard(int fd);
// Bytes received on `fd` and kept for the next read. Whoever waits on the
// descriptor itself must look here first: select does not see them.
size_t ioc_pending(int fd);

// Waits until `fd` is readable (or has bytes kept): 1 readable, 0 time-out,
// -1 failure. A signal that interrupts the wait does not end it.
int ioc_wait_readable(int fd, IoWait timeout);

// Exactly `count` bytes into `out`. One wait only: once data is there the rest
// must follow without blocking, else the read fails (EAGAIN, EOF). `out` holds
// what was read so far on every return.
int ioc_read_nbytes(int fd, IoWait timeout, std::string& out, int count);

// A record up to and including `delim`; the next record stays for the next
// call. `timeout` bounds the silence before each byte, not the whole record.
// End of file is a failure (-1). `out` is cleared first and set to the record
// on success; a record may hold NUL bytes anywhere.
int ioc_read_delim(int fd, IoWait timeout, char delim, std::string& out);

// As ioc_read_delim, ending at any byte of `delims`; end of file reads as a
// time-out (0). An empty set never completes a record.
int ioc_read_delims(int fd, IoWait timeout, std::string_view delims, std::string& out);

// Writes all of `bytes`: the length on success, 0 when the descriptor would
// block or takes nothing, -1 on failure.
int fd_write_all(int fd, std::string_view bytes);

// Leading number of a setting as scanf "%d" reads it (blanks, sign, digits;
// trailing text ignored); nullopt when there is none or it overflows a long.
std::optional<long> io_scan_number(std::string_view text);
