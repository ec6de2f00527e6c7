// A control-port message as a client sends it: the frame is cut out of the
// received bytes as the server does, decoded, and the request dispatched to
// a vendor whose every slot accepts, so that each request kind's argument
// checks see the data. Answers go to a socket nobody reads.
#include <sys/socket.h>
#include <csignal>
#include <unistd.h>

#include "db.h"
#include "fuzz_support.h"
#include "io_gwy/requests.h"
#include "io_gwy/server.h"

namespace {

VendorRequests accepting_vendor() {
    VendorRequests r;
    r.check_room_status = [](const std::string&, int32_t& status, std::string&) {
        status = 1;
        return ReqResult::Ok;
    };
    r.check_out_room = [](const std::string&, const std::string&, std::string&) { return ReqResult::Ok; };
    r.check_in_room = [](const std::string&, const std::string&, const std::string&, std::string&) {
        return ReqResult::Ok;
    };
    r.retrieve_guest_folio = [](const std::string&, const std::string&, int32_t, int32_t, int32_t& count,
                                std::vector<std::string>& lines, std::string&) {
        lines = {"line"};
        count = 1;
        return ReqResult::Ok;
    };
    r.retrieve_guest_info = [](const std::string&, int32_t& count, std::vector<std::string>& lines, std::string&) {
        lines = {"guest"};
        count = 1;
        return ReqResult::Ok;
    };
    r.post_charge = [](const PMSPostInfo&, std::string&) { return ReqResult::Ok; };
    r.authorize = [](const std::string&, const std::string&, std::string&) { return ReqResult::Ok; };
    r.room_equipment_status = [](const std::string&, const std::string&, std::string&) { return ReqResult::Ok; };
    r.db_swap = [] { return ReqResult::Ok; };
    r.retrieve_guest_message = [](const std::string&, const std::string&, int32_t& count,
                                  std::vector<std::string>& lines, std::string&) {
        lines = {"message"};
        count = 1;
        return ReqResult::Ok;
    };
    r.delete_guest_message = [](const std::string&, const std::string&, std::string&) { return ReqResult::Ok; };
    r.check_status = [](std::optional<std::string>& s) { s = "READY"; };
    r.check_db_swap_status = [](std::optional<std::string>& s) { s = "0"; };
    return r;
}

// The sending end of a socket pair whose other end is shut for reading:
// sends fail at once instead of filling a buffer.
int answer_fd() {
    static int fd = [] {
        signal(SIGPIPE, SIG_IGN);
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) std::abort();
        close(sv[1]);
        return sv[0];
    }();
    return fd;
}

}  // namespace

void fuzz_one(std::string_view input) {
    static const VendorRequests vendor = accepting_vendor();
    if (input.size() > SVR_MAX_MESSAGE) return;
    // As the server reads it: up to the first zero byte, from STX to ETX.
    const std::string buf(input);
    const std::string_view text(buf.c_str());
    const size_t stx = text.find(SVR_STX);
    if (stx == std::string_view::npos) return;
    const size_t etx = text.find(SVR_ETX, stx);
    if (etx == std::string_view::npos) return;
    const std::string_view frame = text.substr(stx, etx - stx + 1);

    const std::optional<ServerMessage> msg = svr_decodeFrame(frame);
    if (!msg) return;
    FUZZ_CHECK(svr_frame(*msg) == frame);
    int type = 0, subtype = 0;
    std::string data;
    FUZZ_CHECK(svr_parseMessage(*msg, type, subtype, data) == 1);
    FUZZ_CHECK(type >= 0 && type <= 99 && subtype >= 0 && subtype <= 99);
    if (type != SVR_MSG_REQUEST) return;
    std::string reply;
    const int rc = svr_handleRequest(answer_fd(), vendor, *msg, reply);
    FUZZ_CHECK(rc >= 0);
}
