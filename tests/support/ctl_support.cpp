#include "ctl_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config.h"
#include "io_gwy/connection.h"
#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "state.h"
#include "utils/strutils.h"

#include "db.h"

ControlPort::ControlPort(const std::string& extra) {
    g_config_file = dir_.write("vornpms.cfg", "CONTROLPORT=0\nCONTROLADDR=127.0.0.1\n" + extra);
    config_init();
    fd_ = svr_open();
    port_ = svr_port();
}

ControlPort::~ControlPort() { svr_close(); }

ServeThread::ServeThread(int listen_fd)
    : thread_([this, listen_fd] {
          while (!stop_) {
              pollfd p{listen_fd, POLLIN, 0};
              if (poll(&p, 1, 50) == 1) svr_serveClient(listen_fd);
          }
      }) {}

ServeThread::~ServeThread() {
    stop_ = true;
    thread_.join();
}

void sendAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

std::string readUntilClosed(int fd, int timeout_ms) {
    std::string out;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::vector<std::string> splitFrames(const std::string& bytes) {
    std::vector<std::string> frames;
    size_t pos = 0;
    while ((pos = bytes.find('\x02', pos)) != std::string::npos) {
        size_t end = bytes.find('\x03', pos);
        if (end == std::string::npos) break;
        frames.push_back(bytes.substr(pos, end - pos + 1));
        pos = end + 1;
    }
    return frames;
}

std::string frame(const std::string& type, const std::string& subtype, const std::string& data) {
    return "\x02" + type + subtype + data + "\x03";
}

std::vector<std::string> exchange(int listen_fd, const std::string& bytes) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(listen_fd, reinterpret_cast<sockaddr*>(&a), &len);
    int fd = connectLoopback(ntohs(a.sin_port));
    sendAll(fd, bytes);
    svr_serveClient(listen_fd);
    std::string got = readUntilClosed(fd, 2000);
    close(fd);
    return splitFrames(got);
}

TestVendorState& testVendor() {
    static TestVendorState state;
    return state;
}

namespace {

// Records one call and answers with the configured result and reply text.
ReqResult record(const std::string& call, std::string& reply) {
    TestVendorState& s = testVendor();
    std::lock_guard lock(s.mutex);
    s.calls.push_back(call);
    if (!s.reply_text.empty()) strAppendFmt(reply, "%s", s.reply_text.c_str());
    return static_cast<ReqResult>(s.result);
}

void fill_lines(int32_t& count, std::vector<std::string>& lines) {
    TestVendorState& s = testVendor();
    std::lock_guard lock(s.mutex);
    count = s.line_count;
    lines = s.lines;
}

}  // namespace

VendorDescriptor bareVendorDescriptor() {
    VendorDescriptor d;
    d.name = "test vendor";
    d.read_msg = [](std::string&) { return 0; };
    d.parse_cmd = [](const std::string& r) -> std::optional<std::string> {
        if (r.size() <= 2) return std::nullopt;
        return r.substr(0, 2);
    };
    d.keep_alive = [] { return 0; };
    return d;
}

VendorDescriptor testVendorDescriptor() {
    VendorDescriptor d = bareVendorDescriptor();
    VendorRequests& r = d.requests;
    r.check_room_status = [](const std::string& room, int32_t& status, std::string& reply) {
        {
            std::lock_guard lock(testVendor().mutex);
            status = testVendor().room_status;
        }
        return record("room:" + room, reply);
    };
    r.check_out_room = [](const std::string& a, const std::string& b, std::string& reply) {
        return record("out:" + a + "," + b, reply);
    };
    r.check_in_room = [](const std::string& a, const std::string& b, const std::string& c,
                         std::string& reply) {
        return record("in:" + a + "," + b + "," + c, reply);
    };
    r.retrieve_guest_folio = [](const std::string& a, const std::string& b, int32_t c, int32_t e,
                                int32_t& count, std::vector<std::string>& lines,
                                std::string& reply) {
        fill_lines(count, lines);
        return record(strFormat("folio:%s,%s,%d,%d", a.c_str(), b.c_str(), c, e), reply);
    };
    r.retrieve_guest_info = [](const std::string& room, int32_t& count,
                               std::vector<std::string>& lines, std::string& reply) {
        fill_lines(count, lines);
        return record("info:" + room, reply);
    };
    r.post_charge = [](const PMSPostInfo& p, std::string& reply) {
        {
            TestVendorState& s = testVendor();
            std::lock_guard lock(s.mutex);
            s.post_room = p.room;
            s.post_description = p.description;
            s.post_charge = p.charge;
            s.post_start = p.start_time;
            s.post_duration = p.duration;
        }
        return record("post:" + p.room, reply);
    };
    d.post_charge = r.post_charge;
    r.authorize = [](const std::string& a, const std::string& b, std::string& reply) {
        return record("auth:" + a + "," + b, reply);
    };
    r.room_equipment_status = [](const std::string& a, const std::string& b, std::string& reply) {
        return record("equip:" + a + "," + b, reply);
    };
    r.db_swap = [] {
        std::string ignored;
        return record("dbswap:", ignored);
    };
    r.retrieve_guest_message = [](const std::string& a, const std::string& b, int32_t& count,
                                  std::vector<std::string>& lines, std::string& reply) {
        fill_lines(count, lines);
        return record("messages:" + a + "," + b, reply);
    };
    r.delete_guest_message = [](const std::string& a, const std::string& b, std::string& reply) {
        return record("delete:" + a + "," + b, reply);
    };
    r.check_status = [](std::optional<std::string>& status) {
        std::lock_guard lock(testVendor().mutex);
        status = testVendor().status_text;
    };
    r.check_db_swap_status = r.check_status;
    d.init = [] {
        std::lock_guard lock(testVendor().mutex);
        ++testVendor().init_calls;
        return 1;
    };
    d.close = [] {
        std::lock_guard lock(testVendor().mutex);
        ++testVendor().close_calls;
        return 1;
    };
    return d;
}

TestVendorSelected::TestVendorSelected(VendorFactory factory) {
    vendor_set_factory(kTestVendorId, factory);
    g_vendor_id = vendor_init(kVendorNames[kTestVendorId]);
    pms_fd_client = 1000;  // the link only has to look open
    svr_setReady();
    svr_setBillingHook([] {
        std::lock_guard lock(testVendor().mutex);
        ++testVendor().billing_runs;
    });
}

TestVendorSelected::~TestVendorSelected() {
    svr_setBillingHook({});
    vendor_stop();
    vendor_set_factory(kTestVendorId, nullptr);
    pms_fd_client = -1;
    g_vendor_id = -1;
    svr_setBusy();
}
