#include "platform/ctlclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "io_gwy/server.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "platform/ctlclient";

namespace {

// An answer larger than this is not one the daemon sends; stop reading there.
constexpr size_t kMaxAnswerBytes = 1 << 20;

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Everything the daemon sends until it closes the connection or a read
// waits longer than the time-out.
std::string read_all(int fd) {
    std::string buf;
    char chunk[4096];
    while (buf.size() < kMaxAnswerBytes) {
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, PMS_CLIENT_READ_TIMEOUT_S * 1000);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buf.append(chunk, static_cast<size_t>(n));
    }
    return buf;
}

}  // namespace

std::optional<PmsAnswer> pms_MakeRequest(const std::string& host, uint16_t port, int subtype,
                                         const std::vector<std::string>& fields) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
        VLOG_ERROR(0, "pms_MakeRequest: invalid address '%s'", host.c_str());
        return std::nullopt;
    }
    Socket sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (sock.fd() < 0) {
        VLOG_ERRNO(0, "pms_MakeRequest: socket");
        return std::nullopt;
    }
    if (connect(sock.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        VLOG_ERRNO(0, "pms_MakeRequest: unable to connect to %s:%u", host.c_str(), port);
        return std::nullopt;
    }

    std::string data;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) data += '|';
        data += fields[i];
    }
    if (!svr_sendMessage(sock.fd(), svr_newMessage(SVR_MSG_REQUEST, subtype, data)))
        return std::nullopt;

    const std::string buf = read_all(sock.fd());
    std::optional<PmsAnswer> result;
    size_t pos = 0;
    while ((pos = buf.find(SVR_STX, pos)) != std::string::npos) {
        size_t etx = buf.find(SVR_ETX, pos);
        if (etx == std::string::npos) break;
        std::optional<ServerMessage> msg =
            svr_decodeFrame(std::string_view(buf).substr(pos, etx - pos + 1));
        pos = etx + 1;
        if (!msg) continue;
        int type = 0;
        int code = 0;
        std::string text;
        svr_parseMessage(*msg, type, code, text);
        if (type == SVR_MSG_ANSWER) {
            // The first answer line is the answer.
            return PmsAnswer{std::move(text), SVR_MSG_ANSWER, 0};
        }
        if (type == SVR_MSG_RESULT && !result) {
            result = PmsAnswer{text.empty() ? std::nullopt : std::optional<std::string>(text),
                               SVR_MSG_RESULT, code};
        }
    }
    return result;
}

bool pms_answerIsSuccess(const std::optional<PmsAnswer>& answer) {
    return answer && answer->type == SVR_MSG_ANSWER && answer->text &&
           answer->text->starts_with("1");
}

int pms_simpleClientMain(int argc, char* argv[], int subtype, const FmtText<int>& sending_fmt,
                         const char* success_text) {
    uint16_t port = 5656;
    opterr = 0;  // other options are ignored
    int opt;
    while ((opt = getopt(argc, argv, "p:")) != -1) {
        if (opt == 'p') port = static_cast<uint16_t>(strtol(optarg, nullptr, 10));
    }
    fputs(fmt_string(sending_fmt, port).c_str(), stdout);
    fflush(stdout);
    std::optional<PmsAnswer> answer = pms_MakeRequest("127.0.0.1", port, subtype, {});
    if (pms_answerIsSuccess(answer)) {
        printf("%s\n", success_text);
        return 0;
    }
    return 1;
}
