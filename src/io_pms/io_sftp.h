// SFTP transport of the PMS link: the PMS leaves guest files in a directory
// of an SFTP server. The link logs in over SSH with a password and offers two
// operations, the newest regular file of the directory and the whole content
// of one file; the stream operations do nothing on it.
//
// Every wait on the server (connect, handshake, login, each transfer step) is
// bounded by PMSCOMMTIMEOUT, so a server that accepts TCP and stays silent
// cannot hang the daemon. With SFTP_HOSTKEY set, a server whose host key has
// another fingerprint is refused before the password is sent.
#pragma once

#include <netinet/in.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct _LIBSSH2_SESSION;

struct SshSessionFree {
    void operator()(_LIBSSH2_SESSION* s) const;
};
using SshSession = std::unique_ptr<_LIBSSH2_SESSION, SshSessionFree>;

struct SftpLink {
    int fd = -1;  // -1 until logged in
    sockaddr_in remote{};
    sockaddr_in local{};
    unsigned timeout = 0;     // PMSCOMMTIMEOUT, seconds
    std::string user;         // SFTP_USERNAME
    std::string password;     // SFTP_PASSWORD
    std::string dir = "~/";   // SFTP_DIR
    std::string hostkey;      // SFTP_HOSTKEY ("SHA256:..."), empty: not pinned
    SshSession session;
};

// Reads the settings; nullopt (with the reason logged) on any error.
std::optional<SftpLink> io_sftp_init();
// Connects, checks the host key and logs in: the socket descriptor, or -1
// with socket and session released.
int io_sftp_open(SftpLink& link);
// Ends the session and closes the socket.
void io_sftp_close(SftpLink& link);
// Name and size of the newest regular file of the directory: the size (0 and
// an empty name when there is none), or -1 on failure.
int io_sftp_find_newest_file_in_dir(SftpLink& link, std::string& name);
// The file's content up to `size` bytes into `out`: the size, or -1.
int io_sftp_read_file(SftpLink& link, const std::string& name, long size, std::string& out);

// "SHA256:" and the unpadded base64 of a 32-byte digest, as ssh-keygen -lf
// prints a key's fingerprint.
std::string io_sftp_fingerprint(std::string_view sha256_digest);
// True when two fingerprints name the same key (a trailing base64 padding
// "=" and surrounding blanks are ignored).
bool io_sftp_same_fingerprint(std::string_view a, std::string_view b);
