#include "sshd_server.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <sstream>

#include "procrun.h"

namespace {

std::string script() { return std::string(VORNPMS_SOURCE_DIR) + "/scripts/sftptmp"; }

}  // namespace

SshdServer::SshdServer() : root_(dir_.path() + "/sshd") {
    // The SFTP user must be able to reach its directory below ours.
    chmod(dir_.path().c_str(), 0755);
    start();
}

SshdServer::~SshdServer() { stop(); }

bool SshdServer::start() {
    RunResult r = runProgram({"/bin/bash", script(), "start", root_}, {}, 30000);
    if (r.status != 0) {
        error_ = "scripts/sftptmp start: status " + std::to_string(r.status) + ": " + r.err;
        port_ = 0;
        return false;
    }
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("export ", 0) != 0) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(7, eq - 7), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
        if (key == "SFTP_PORT") port_ = std::stoi(value);
        if (key == "SFTP_USER") user_ = value;
        if (key == "SFTP_PASSWORD") password_ = value;
        if (key == "SFTP_FILES") files_ = value;
        if (key == "SFTP_HOSTKEY") hostkey_ = value;
    }
    if (port_ <= 0 || password_.empty()) error_ = "scripts/sftptmp start printed: " + r.out;
    return ok();
}

bool SshdServer::stop() {
    if (root_.empty()) return true;
    return runProgram({"/bin/bash", script(), "stop", root_}, {}, 30000).status == 0;
}

std::string SshdServer::linkConfig(int timeout, bool pin) const {
    std::ostringstream c;
    c << "PMSCOMMTYPE=SFTP\nPMSCOMMOPTS=127.0.0.1|" << port_ << "\nPMSCOMMTIMEOUT=" << timeout
      << "\nSFTP_USERNAME=" << user_ << "\nSFTP_PASSWORD=" << password_ << "\n";
    if (pin) c << "SFTP_HOSTKEY=" << hostkey_ << "\n";
    return c.str();
}

std::string SshdServer::put(const std::string& name, const std::string& content, time_t mtime) const {
    std::string path = files_ + "/" + name;
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            size_t off = 0;
            while (off < content.size()) {
                ssize_t n = write(fd, content.data() + off, content.size() - off);
                if (n <= 0) break;
                off += static_cast<size_t>(n);
            }
            close(fd);
        }
    }
    timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
}

std::string SshdServer::log() const { return readFile(root_ + "/sshd.log"); }
