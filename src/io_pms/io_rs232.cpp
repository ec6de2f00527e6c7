#include "io_pms/io_rs232.h"
#include "settings_core.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "config.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "io_pms/io_rs232";

namespace {

// Line settings as found at the last open, written back at close.
termios g_saved_settings{};

struct SpeedCode {
    long baud;
    speed_t code;
};
constexpr SpeedCode kSpeeds[] = {
    {300, B300},     {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},   {4800, B4800},
    {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool all_digits(const std::string& text) {
    for (unsigned char c : text)
        if (!isdigit(c)) return false;
    return true;
}

bool parse_speed(const std::string& text, speed_t& code) {
    bool ok = false;
    if (text.empty()) {
        VLOG_ERROR(1000, "Unable to set null baudrate");
    } else if (!all_digits(text)) {
        VLOG_ERROR(1000, "Invalid format for baud setting.  Must be a valid number.");
    } else {
        // More digits than any speed has can only be refused.
        long baud = text.size() > 9 ? -1 : strtol(text.c_str(), nullptr, 10);
        for (const auto& s : kSpeeds)
            if (s.baud == baud) {
                code = s.code;
                ok = true;
            }
        if (!ok) VLOG_ERROR(1000, "Invalid baudrate specified - %d", static_cast<int>(baud));
    }
    if (!ok) VLOG_ERROR(1000, "Missing/invalid baudrate setting");
    return ok;
}

bool parse_databits(const std::string& text, tcflag_t& flag) {
    if (text.size() != 1 || !isdigit(static_cast<unsigned char>(text[0]))) {
        VLOG_ERROR(1000, "Missing/invalid databits setting");
        return false;
    }
    switch (text[0]) {
        case '5': flag = CS5; return true;
        case '6': flag = CS6; return true;
        case '7': flag = CS7; return true;
        case '8': flag = CS8; return true;
    }
    VLOG_ERROR(1000, "Invalid databits setting. Valid values are 5 through 8, inclusive.");
    return false;
}

bool parse_parity(const std::string& text, tcflag_t& flags) {
    if (text.size() != 1 || !isalpha(static_cast<unsigned char>(text[0]))) {
        VLOG_ERROR(1000, "Missing/invalid parity setting");
        return false;
    }
    switch (tolower(static_cast<unsigned char>(text[0]))) {
        case 'n': flags = 0; return true;
        case 'e': flags = PARENB; return true;
        case 'o': flags = PARENB | PARODD; return true;
    }
    VLOG_ERROR(1000, "Invalid parity setting");
    return false;
}

bool parse_stopbits(const std::string& text, tcflag_t& flag) {
    if (text.size() != 1 || !isdigit(static_cast<unsigned char>(text[0]))) {
        VLOG_ERROR(1000, "Missing/invalid stopbits setting");
        return false;
    }
    if (text[0] == '1' || text[0] == '2') {
        flag = text[0] == '2' ? CSTOPB : 0;
        return true;
    }
    VLOG_ERROR(1000, "Invalid stopbits setting");
    return false;
}

void log_settings(bool as_error, const termios& t) {
    if (as_error)
        VLOG_ERROR(1000, "Serial settings: c_iflag '%d', c_oflag '%d', c_cflag '%d', c_lflag '%d'",
                   static_cast<int>(t.c_iflag), static_cast<int>(t.c_oflag), static_cast<int>(t.c_cflag),
                   static_cast<int>(t.c_lflag));
    else
        VLOG_DEBUG(4, 1000, "Serial settings: c_iflag '%d', c_oflag '%d', c_cflag '%d', c_lflag '%d'",
                   static_cast<int>(t.c_iflag), static_cast<int>(t.c_oflag), static_cast<int>(t.c_cflag),
                   static_cast<int>(t.c_lflag));
}

}  // namespace

std::optional<Rs232Link> io_rs232_init() {
    auto value = setting_text(kSetCommOpts);
    if (!value) {
        VLOG_ERROR(1000, "Unable to retrieve communcations option 'PMSCOMMOPTS' from configuration file");
        config_report_invalid("PMSCOMMOPTS");
        return std::nullopt;
    }
    std::vector<std::string> fields = strSplit(*value, "|");
    if (fields.size() != 5) {
        VLOG_ERROR(1000, "Unable to parse RS232 settings from config option PMSCOMMOPTS");
        config_report_invalid("PMSCOMMOPTS");
        return std::nullopt;
    }
    Rs232Link link;
    link.device = fields[0];
    link.timeout = link_timeout();
    if (link.timeout == 0) return std::nullopt;
    if (!parse_speed(fields[1], link.speed) || !parse_databits(fields[2], link.databits) ||
        !parse_parity(fields[3], link.parity) || !parse_stopbits(fields[4], link.stopbits))
        return std::nullopt;
    link.fd = -1;
    return link;
}

int io_rs232_open(Rs232Link& link) {
    if (link.device.empty()) {
        VLOG_ERROR(1000, "Null configuration settings!");
        return -1;
    }
    g_saved_settings = termios{};
    VLOG_DEBUG(4, 1000,
               "io_rs232_open: timeout '%d', device '%s', speed '%d', databits '%d', parity '%d', stopbits '%d'",
               static_cast<int>(link.timeout), link.device.c_str(), static_cast<int>(link.speed),
               static_cast<int>(link.databits), static_cast<int>(link.parity), static_cast<int>(link.stopbits));

    // O_NOCTTY: the detached daemon must not adopt the line as its
    // controlling terminal, or a carrier drop would send it SIGHUP.
    int fd = open(link.device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        VLOG_ERRNO(1000, "Unable to open device '%s'", link.device.c_str());
        auto vendor = setting_text(kSetVendor);
        if (vendor && *vendor == "HN MUX 2-way") {
            VLOG_ERROR(1000, "Exit, serial device is missing for vendor [%s]", vendor->c_str());
            exit(1);
        }
        return -1;
    }

    int rc = tcgetattr(fd, &g_saved_settings);
    if (rc != 0) {
        VLOG_ERRNO(1000, "Unable to save prior serial settings for '%s': '%d'", link.device.c_str(), rc);
        log_settings(true, g_saved_settings);
        close(fd);
        return -1;
    }
    log_settings(false, g_saved_settings);
    link.fd = fd;

    termios raw = g_saved_settings;
    cfsetispeed(&raw, link.speed);
    cfsetospeed(&raw, link.speed);
    raw.c_cflag = (raw.c_cflag & ~CSIZE) | link.databits;
    if (link.parity & PARENB) {
        raw.c_cflag |= PARENB;
        if (link.parity & PARODD) {
            VLOG_DEBUG(4, 1000, "RS232: Setting odd parity");
            raw.c_cflag |= PARODD;
        } else {
            VLOG_DEBUG(4, 1000, "RS232: Setting even parity");
            raw.c_cflag &= ~PARODD;
        }
    } else {
        VLOG_DEBUG(4, 1000, "RS232: Setting no parity");
        raw.c_cflag &= ~PARENB;
    }
    if (link.stopbits)
        raw.c_cflag |= CSTOPB;
    else
        raw.c_cflag &= ~CSTOPB;
    raw.c_cflag &= ~CRTSCTS;
    raw.c_iflag &= ~(IXON | IXOFF | IXANY);
    // Records must arrive byte for byte: a line left translating CR to LF (the
    // kernel's default) would turn a CR delimiter into one never seen.
    raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG);
    raw.c_oflag &= ~OPOST;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
        VLOG_ERRNO(1000, "Unable to set RS232 configuration values");
        close(fd);
        link.fd = -1;
        return -1;
    }

    VLOG_DEBUG(4, 1000, "io_rs232_open: turn on DTR and RTS");
    int line = TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &line);  // not every device has modem lines
    line = TIOCM_DTR;
    (void)ioctl(fd, TIOCMBIS, &line);
    ioc_buffer_begin(fd, false);
    return fd;
}

void io_rs232_close(Rs232Link& link) {
    if (link.fd >= 0) {
        ioc_buffer_end(link.fd);
        tcflush(link.fd, TCIOFLUSH);
        if (tcsetattr(link.fd, TCSANOW, &g_saved_settings) != 0)
            VLOG_ERRNO(1000, "Unable to restore previous serial settings");
        VLOG_DEBUG(4, 1000, "io_rs232_close: turn off DTR and RTS");
        int line = TIOCM_RTS;
        (void)ioctl(link.fd, TIOCMBIC, &line);
        line = TIOCM_DTR;
        (void)ioctl(link.fd, TIOCMBIC, &line);
        close(link.fd);
    }
    link.fd = -1;
}
