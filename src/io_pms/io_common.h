// Timed reads and complete writes on the non-blocking descriptor of the PMS
// link (serial device, TCP socket or connected UDP socket). They only report:
// closing the link after a failure is the link layer's job.
//
// Results: > 0 bytes delivered, 0 time-out (nothing delivered), -1 failure.
// A negative descriptor fails at once with -1 and errno EBADF. Time-outs are
// whole seconds.
#pragma once

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

// A connected datagram socket hands over a whole datagram per read. Between
// these two calls the readers keep the part of a datagram they have not
// delivered yet for their next call instead of losing it (one descriptor at a
// time: the link has only one).
void ioc_datagram_begin(int fd);
void ioc_datagram_end(int fd);

// Waits until `fd` is readable: 1 readable, 0 time-out, -1 failure. A signal
// that interrupts the wait does not end it (the wait starts again).
int ioc_wait_readable(int fd, int timeout);

// Exactly `count` bytes into `out`. One wait only: once data is there the rest
// must follow without blocking, else the read fails (EAGAIN, EOF). `out` holds
// what was read so far on every return.
int ioc_read_nbytes(int fd, int timeout, std::string& out, int count);

// One byte per read up to and including `delim`, so that the next record stays
// in the descriptor. `timeout` bounds the silence before each byte, not the
// whole record. End of file is a failure (-1). `out` is cleared first and set
// to the record on success.
int ioc_read_delim(int fd, int timeout, char delim, std::string& out);

// As ioc_read_delim, ending at any byte of `delims`; end of file reads as a
// time-out (0). An empty set never completes a record.
int ioc_read_delims(int fd, int timeout, std::string_view delims, std::string& out);

// Writes all of `bytes`: the length on success, 0 when the descriptor would
// block or takes nothing, -1 on failure.
int fd_write_all(int fd, std::string_view bytes);

// Leading number of a setting as scanf "%d" reads it (blanks, sign, digits;
// trailing text ignored); nullopt when there is none or it overflows a long.
std::optional<long> io_scan_number(std::string_view text);
