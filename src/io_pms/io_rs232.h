// Serial-line transport of the PMS link. PMSCOMMOPTS is
// "device|speed|databits|parity|stopbits", for example /dev/ttyS0|9600|8|N|1.
// The line runs raw at that format without flow control, with DTR and RTS up
// while open; closing puts back the line settings found at open.
#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "io_pms/io_common.h"

struct Rs232Link : IoStream {
    std::string device;
    speed_t speed = B9600;
    tcflag_t databits = CS8;  // CS5 .. CS8
    tcflag_t parity = 0;      // 0, PARENB (even), PARENB|PARODD (odd)
    tcflag_t stopbits = 0;    // 0 (one) or CSTOPB (two)
};

// Reads and checks the settings; nullopt (with the reason logged) on any error.
std::optional<Rs232Link> io_rs232_init();
// The device descriptor (also stored in `link.fd`), or -1. A missing device
// ends the process with status 1 when VENDOR is "HN MUX 2-way".
int io_rs232_open(Rs232Link& link);
void io_rs232_close(Rs232Link& link);
