// Small helpers for tests that use loopback sockets and watch descriptors.
#pragma once

#include <sys/types.h>

// A port the kernel just handed out on 127.0.0.1, so parallel tests do not share one.
int freeUdpPort();
int freeTcpPort();
// Descriptors open in process `pid` (this process by default).
int countOpenFds(pid_t pid = 0);
// A TCP connection to 127.0.0.1:port, or -1.
int connectLoopback(int port);
