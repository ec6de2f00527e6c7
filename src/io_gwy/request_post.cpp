// Subtype 6: a charge that arrives on the control port is turned into the
// same posting record the charge scan produces, and handed to the vendor.
#include <cstdlib>

#include "io_gwy/requests.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "io_gwy/request_post";

#include "db.h"

int svr_requestPost(int fd, const VendorRequests& requests, const std::string& data,
                    std::string& reply) {
    // room|charge|description|start time|duration; only the room may not be
    // left empty in practice, but an empty field is still a field.
    if (strCount(data, "|") != 4) return 2;
    std::vector<std::string> f = strSplit(data, "|");
    if (f.size() != 5) return 2;

    PMSPostInfo tmpl;
    tmpl.room = f[0];
    tmpl.charge = f[1].empty() ? 0.0f : static_cast<float>(strtod(f[1].c_str(), nullptr));
    tmpl.description = f[2];
    tmpl.start_time =
        f[3].empty()
            ? 0
            : static_cast<int64_t>(static_cast<int32_t>(strtol(f[3].c_str(), nullptr, 10)));
    tmpl.duration = f[4].empty() ? 0 : static_cast<int32_t>(strtol(f[4].c_str(), nullptr, 10));
    const PMSPostInfo post = pms_post_info_new(std::move(tmpl));

    if (!requests.post_charge) return 3;
    if (ReqResult rc = requests.post_charge(post, reply); rc != ReqResult::Ok) return req_code(rc);
    if (!svr_sendAnswer(fd, PMS_REQ_POST, "1")) {
        strAppendFmt(reply, "Invalid message");
        return 4;
    }
    return 0;
}

