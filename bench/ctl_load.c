/* Load for the control port: CLIENTS threads send REQUESTS requests in all,
 * one per connection, each waiting for the server to close before the next.
 *
 *   ctl_load PORT SUBTYPE DATA CLIENTS REQUESTS
 * Prints "requests=N failed=F seconds=S rps=R p50_us=X p99_us=Y max_us=Z".
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static int g_port;
static char g_frame[1100];
static size_t g_frame_len;
static double* g_lat;
static int g_per_client;
static int g_failed;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

static double now_s(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int one_request(void) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr = {0};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)g_port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok = 0;
    if (connect(fd, (struct sockaddr*)&addr, sizeof addr) == 0 &&
        send(fd, g_frame, g_frame_len, MSG_NOSIGNAL) == (ssize_t)g_frame_len) {
        char buf[4096];
        ssize_t n, got = 0;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0) got += n;
        ok = got > 0 && buf[0] == 0x02;
    }
    close(fd);
    return ok;
}

static void* client(void* arg) {
    double* lat = g_lat + (long)arg * g_per_client;
    for (int i = 0; i < g_per_client; ++i) {
        double t0 = now_s();
        int ok = one_request();
        lat[i] = now_s() - t0;
        if (!ok) {
            pthread_mutex_lock(&g_lock);
            ++g_failed;
            pthread_mutex_unlock(&g_lock);
        }
    }
    return NULL;
}

static int cmp(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: ctl_load PORT SUBTYPE DATA CLIENTS REQUESTS\n");
        return 2;
    }
    g_port = atoi(argv[1]);
    g_frame_len = (size_t)snprintf(g_frame, sizeof g_frame, "\00201%.2s%s\003", argv[2], argv[3]);
    int clients = atoi(argv[4]);
    if (clients < 1) clients = 1;
    g_per_client = atoi(argv[5]) / clients;
    if (g_per_client < 1) g_per_client = 1;
    int total = g_per_client * clients;
    g_lat = calloc((size_t)total, sizeof *g_lat);
    pthread_t th[64];
    if (clients > 64) clients = 64;
    double start = now_s();
    for (long i = 0; i < clients; ++i) pthread_create(&th[i], NULL, client, (void*)i);
    for (int i = 0; i < clients; ++i) pthread_join(th[i], NULL);
    double secs = now_s() - start;
    qsort(g_lat, (size_t)total, sizeof *g_lat, cmp);
    printf("requests=%d failed=%d seconds=%.6f rps=%.1f p50_us=%.0f p99_us=%.0f max_us=%.0f\n", total, g_failed, secs,
           total / secs, g_lat[total / 2] * 1e6, g_lat[(int)(total * 0.99)] * 1e6, g_lat[total - 1] * 1e6);
    free(g_lat);
    return 0;
}
