// Asks the daemon on the local control port to start a database swap.
#include "io_gwy/requests.h"
#include "platform/ctlclient.h"

int main(int argc, char* argv[]) {
    return pms_simpleClientMain(argc, argv, PMS_REQ_DB_SWAP,
                                "Sending db swap request to vorpms on port [%d]\n",
                                "DB Swap reponse received");
}
