// Posts a test charge to a room through the daemon's local control port.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "io_gwy/requests.h"
#include "platform/ctlclient.h"

namespace {

void usage(const char* prog) {
    printf(
        "Usage: %s -r room -a amount [-p port]\nwhere\n\t-r room   Post the charge to this room "
        "number\n\t-a amount Post this amount\n\t-p vornpms control port\n\n\n",
        prog);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::optional<std::string> room;
    std::optional<std::string> amount;
    long port = 5656;
    int opt;
    while ((opt = getopt(argc, argv, "r:a:p:")) != -1) {
        switch (opt) {
            case 'r':
                room = optarg;
                break;
            case 'a':
                amount = optarg;
                break;
            case 'p':
                port = strtol(optarg, nullptr, 10);
                break;
            default:
                usage(argv[0]);
                return 1;
        }
    }
    if (!room || !amount) {
        fprintf(stderr, "Both the room number and amount must be specified\n\n");
        usage(argv[0]);
        return 1;
    }
    printf("Sending post request to vorpms on port [%d]: room[%s] amount[%s]\n",
           static_cast<int>(port), room->c_str(), amount->c_str());
    fflush(stdout);

    char now[21];
    snprintf(now, sizeof now, "%u", static_cast<unsigned>(time(nullptr)));
    std::optional<PmsAnswer> answer =
        pms_MakeRequest("127.0.0.1", static_cast<uint16_t>(port), PMS_REQ_POST,
                        {*room, *amount, "Test post using vornpms_post_charge", now, "0"});
    if (pms_answerIsSuccess(answer)) {
        printf("vornpms post charge request received\n");
        return 0;
    }
    return 1;
}
