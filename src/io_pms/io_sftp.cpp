#include "io_pms/io_sftp.h"

#include <unistd.h>

#include <cerrno>

#include "platform/log.h"

static constexpr char kLogSrc[] = "io_pms/io_sftp";

std::optional<SftpLink> io_sftp_init() {
    VLOG_ERROR(1000,
               "io_sftp_init: the SFTP transport is not available in this build of vornpms; "
               "PMSCOMMTYPE SFTP cannot be opened (use TCP, UDP or RS232)");
    return std::nullopt;
}

int io_sftp_open(SftpLink&) {
    errno = ENOSYS;
    return -1;
}

void io_sftp_close(SftpLink& link) {
    if (link.fd >= 0) close(link.fd);
    link.fd = -1;
}

int io_sftp_find_newest_file_in_dir(SftpLink&, std::string& name) {
    name.clear();
    errno = ENOSYS;
    return -1;
}

int io_sftp_read_file(SftpLink&, const std::string&, long, std::string& out) {
    out.clear();
    errno = ENOSYS;
    return -1;
}
