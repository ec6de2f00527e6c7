// Asks the daemon on the local control port to run the charge scan now.
#include "io_gwy/requests.h"
#include "platform/ctlclient.h"

int main(int argc, char* argv[]) {
    return pms_simpleClientMain(argc, argv, PMS_REQ_RT_BILLING,
                                "Sending rt billing request to vorpms on port [%d]\n",
                                "RT Billing Response received");
}
