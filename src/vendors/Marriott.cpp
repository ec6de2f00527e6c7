// Marriott 2-way: the line protocol with Marriott's posting classes.
#include "utils/strutils.h"
#include "vendors/line/line_core.h"

namespace {

constexpr int kMaxWiredFlag = 108;

// Wired flags 1-6 name a class of service; any other flag in range has none.
LinePostClass marriott_post_class(int wired) {
    static constexpr const char* kClasses[] = {"A", "A+E", "C", "C+E", "E", "F"};
    if (wired < 1 || wired > kMaxWiredFlag) return {"11", "INTERNET"};
    const char* cls = wired <= 6 ? kClasses[wired - 1] : "";
    return {"99", strFormat("%-8s", cls)};
}

constexpr LineProfile kMarriott{
    .name = "Marriott 2-way",
    .prefix = "marriott",
    .look_info_verb = "receiving",
    .because_word = "becuase",
    .post_class = marriott_post_class,
    .auth_look_wait = kLineReadWait,
    .auth_look_silence = "Did not receive response from PMS",
    .serves_equipment_status = false,
};

}  // namespace

VendorDescriptor marriott_vendor_descriptor() {
    static LineVendor vendor{kMarriott};
    return line_vendor_descriptor(vendor);
}
