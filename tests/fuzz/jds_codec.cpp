// JDS decoders: link responses, guest information ("53") and class of
// service ("59"). What they accept has the widths the layouts give, and a
// link response we build decodes to what we built it from.
#include "fuzz_support.h"
#include "vendors/common/control_bytes.h"
#include "vendors/jds/jds_codec.h"

void fuzz_one(std::string_view input) {
    if (auto r = jds::decode_link_response(input)) {
        FUZZ_CHECK(input.size() == jds::kLinkResponseSize);
        FUZZ_CHECK(r->seq.size() == jds::kSeqWidth);
        FUZZ_CHECK(jds::link_response(r->code, r->seq) == input);
    }
    const std::string seq = jds::received_seq(input);
    FUZZ_CHECK(seq.size() == jds::kSeqWidth);
    const std::string resp = jds::link_response(ctl::ACK, seq);
    auto back = jds::decode_link_response(resp);
    FUZZ_CHECK(back && back->code == ctl::ACK && back->seq == seq);

    if (auto g = jds::decode_guest_info(input)) {
        FUZZ_CHECK(input.size() == jds::kGuestInfoShort || input.size() == jds::kGuestInfoLong);
        if (auto t = g->stay_time()) FUZZ_CHECK(t->size() == 19);
    }
    if (auto c = jds::decode_class_of_service(input)) {
        FUZZ_CHECK(input.size() == jds::kClassOfServiceSize);
        FUZZ_CHECK(c->cos.size() == 1);
    }
}
