#include "procrun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// In the child after fork: environment, descriptors, exec.
[[noreturn]] void execChild(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env, int out_fd, int err_fd) {
    for (const auto& e : env) {
        size_t eq = e.find('=');
        if (eq == std::string::npos)
            unsetenv(e.c_str());
        else
            setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (out_fd >= 0) dup2(out_fd, 1);
    if (err_fd >= 0) dup2(err_fd, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int decodeStatus(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return -1;
}

}  // namespace

std::string binPath(const std::string& name) { return std::string(VORNPMS_BIN_DIR) + "/" + name; }

RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     int timeout_ms) {
    RunResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) execChild(argv, env, out[1], err[1]);
    close(out[1]);
    close(err[1]);
    long deadline = nowMs() + timeout_ms;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_fds = 2;
    bool killed = false;
    while (open_fds > 0) {
        long left = deadline - nowMs();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = killed ? -1 : decodeStatus(st);
    return r;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) execChild(argv, env, out[1], -1);
    close(out[1]);
    out_fd_ = out[0];
}

Child::~Child() {
    if (pid_ > 0) stop(SIGKILL);
    if (out_fd_ >= 0) close(out_fd_);
}

bool Child::readLine(std::string& line, int timeout_ms) {
    long deadline = nowMs() + timeout_ms;
    for (;;) {
        size_t nl = buf_.find('\n');
        if (nl != std::string::npos) {
            line = buf_.substr(0, nl);
            buf_.erase(0, nl + 1);
            return true;
        }
        long left = deadline - nowMs();
        if (left <= 0 || out_fd_ < 0) return false;
        pollfd p{out_fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = read(out_fd_, buf, sizeof buf);
        if (n <= 0) return false;
        buf_.append(buf, static_cast<size_t>(n));
    }
}

int Child::stop(int sig, int timeout_ms) {
    if (pid_ <= 0) return -1;
    kill(pid_, sig);
    long deadline = nowMs() + timeout_ms;
    int st = 0;
    for (;;) {
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) break;
        if (r < 0 || nowMs() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &st, 0);
            pid_ = -1;
            return -1;
        }
        usleep(10000);
    }
    pid_ = -1;
    return decodeStatus(st);
}
