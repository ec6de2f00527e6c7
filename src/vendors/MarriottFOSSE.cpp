// Marriott FOSSE 2-way: the line protocol with lettered posting classes, a
// longer wait for the LOOK of an authorisation, and room equipment status
// accepted.
#include "utils/strutils.h"
#include "vendors/line/line_core.h"

namespace {

constexpr int kMaxWiredFlag = 108;
constexpr int kAuthLookWait = 10;  // seconds

// Wired flag n is class letter n ('A' for 1). Flags whose letter would not be
// a printable character get a blank class rather than a byte the PMS cannot read.
LinePostClass fosse_post_class(int wired) {
    if (wired < 1 || wired > kMaxWiredFlag) return {" 2", std::string(8, ' ')};
    const int letter = wired + 64;
    if (letter > '~') return {"99", std::string(8, ' ')};
    return {"99", strFormat("%-8c", static_cast<char>(letter))};
}

constexpr LineProfile kFosse{
    .name = "MarriottFOSSE 2-way",
    .prefix = "fosse",
    .look_info_verb = "reciving",
    .because_word = "because",
    .post_class = fosse_post_class,
    .auth_look_wait = kAuthLookWait,
    .auth_look_silence = "Did not receive response from PMS for LOOK",
    .serves_equipment_status = true,
};

}  // namespace

VendorDescriptor fosse_vendor_descriptor() {
    static LineVendor vendor{kFosse};
    return line_vendor_descriptor(vendor);
}
