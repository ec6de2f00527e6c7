// Micros 4700 answers: the names answer and the posting answer, and the
// name splitter. A text we encode carries the check value of its bytes.
#include "fuzz_support.h"
#include "vendors/micros4700/m4700_codec.h"

void fuzz_one(std::string_view input) {
    if (auto names = m4700::decode_names(input)) {
        (void)m4700::cannot_charge(*names);
        for (const std::string& n : names->names) {
            FUZZ_CHECK(n.size() <= m4700::kNameWidth);
            (void)m4700::split_name(n);
        }
    }
    if (auto post = m4700::decode_post_answer(input)) {
        FUZZ_CHECK(post->type.size() <= 2);
        (void)post->denied();
        (void)post->wants_account();
    }
    const m4700::SplitName split = m4700::split_name(input);
    FUZZ_CHECK(split.last.size() + split.first.size() <= input.size());

    const std::string msg = m4700::encode(input);
    FUZZ_CHECK(msg.size() == input.size() + 2 + 18 + 1 + 4 + 1);
    FUZZ_CHECK(m4700::check_value(std::string_view(msg).substr(1, msg.size() - 6)) ==
               std::string_view(msg).substr(msg.size() - 5, 4));
}
