// Control-port test helpers: a listening control socket on loopback, raw
// client connections, frame splitting, and a small vendor whose request slots
// record what they receive and answer from settable values.
#pragma once

#include "netutil.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tmpfiles.h"
#include "vendor.h"

// Writes a configuration with CONTROLPORT=0 on 127.0.0.1 (plus `extra`
// lines), loads it and opens the control socket; closes it on destruction.
class ControlPort {
  public:
    explicit ControlPort(const std::string& extra = "");
    ~ControlPort();
    ControlPort(const ControlPort&) = delete;
    ControlPort& operator=(const ControlPort&) = delete;
    int fd() const { return fd_; }
    int port() const { return port_; }

  private:
    TempDir dir_;
    int fd_ = -1;
    int port_ = 0;
};

// Serves control connections on a thread until destroyed.
class ServeThread {
  public:
    explicit ServeThread(int listen_fd);
    ~ServeThread();
    ServeThread(const ServeThread&) = delete;
    ServeThread& operator=(const ServeThread&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void sendAll(int fd, const std::string& bytes);
// Everything received until the peer closes or `timeout_ms` passes without data.
std::string readUntilClosed(int fd, int timeout_ms = 5000);
// The STX..ETX frames of a byte stream, each whole.
std::vector<std::string> splitFrames(const std::string& bytes);
// STX + type + subtype + data + ETX.
std::string frame(const std::string& type, const std::string& subtype, const std::string& data);

// Connects, sends `bytes`, serves the connection on this thread with
// svr_serveClient and returns the frames the client received.
std::vector<std::string> exchange(int listen_fd, const std::string& bytes);

// What the test vendor saw and answers. Access under `mutex` when the server
// runs on another thread.
struct TestVendorState {
    std::mutex mutex;
    std::vector<std::string> calls;  // "slot:arg1,arg2,..."
    int result = 0;                  // returned by every slot
    std::string reply_text;          // appended to the reply by every slot
    int32_t room_status = 1;
    int32_t line_count = 0;
    std::vector<std::string> lines;
    std::optional<std::string> status_text = "OK";
    // The last posting received.
    std::string post_room, post_description;
    float post_charge = -1;
    int64_t post_start = -1;
    int32_t post_duration = -1;
    int init_calls = 0, close_calls = 0, billing_runs = 0;
};
TestVendorState& testVendor();

// Every request slot and operation filled in; `bare` leaves every slot empty.
VendorDescriptor testVendorDescriptor();
VendorDescriptor bareVendorDescriptor();

// Plugs the test vendor into the JDS slot, selects it and marks the PMS link
// up and the server READY (restored on destruction).
inline constexpr int kTestVendorId = VENDOR_JDS;
class TestVendorSelected {
  public:
    explicit TestVendorSelected(VendorFactory factory = testVendorDescriptor);
    ~TestVendorSelected();
    TestVendorSelected(const TestVendorSelected&) = delete;
    TestVendorSelected& operator=(const TestVendorSelected&) = delete;
};
