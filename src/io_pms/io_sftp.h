// SFTP transport of the PMS link (files that the PMS leaves on an SFTP
// server). Not built yet: opening it is refused with an error that says so,
// and the link stays closed.
#pragma once

#include <optional>
#include <string>

struct SftpLink {
    int fd = -1;
};

// Always nullopt for now, with the reason logged.
std::optional<SftpLink> io_sftp_init();
int io_sftp_open(SftpLink& link);
void io_sftp_close(SftpLink& link);
// Newest regular file of the SFTP directory, and reading one file: -1, since
// no SFTP link can be open yet.
int io_sftp_find_newest_file_in_dir(SftpLink& link, std::string& name);
int io_sftp_read_file(SftpLink& link, const std::string& name, long size, std::string& out);
