// Control port: the listening socket, the framing of one control message, and
// the server status (READY/BUSY) through which vendors say whether the PMS can
// take work.
//
// Frame: STX, two-digit type, two-digit subtype, data text (no ETX, no zero
// byte), ETX. Type 01 request, 02 answer, 03 result (subtype = result code).
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr char SVR_STX = 0x02;
inline constexpr char SVR_ETX = 0x03;

inline constexpr int SVR_MSG_REQUEST = 1;
inline constexpr int SVR_MSG_ANSWER = 2;
inline constexpr int SVR_MSG_RESULT = 3;

// Limits of one received message: bytes (including any before STX), and the
// time the whole message has to arrive in.
inline constexpr size_t SVR_MAX_MESSAGE = 1024;
inline constexpr int SVR_MESSAGE_TIMEOUT_MS = 2000;

enum ServerStatus : int { SERVER_NONE = 0, SERVER_READY = 1, SERVER_BUSY = 2 };

struct ServerMessage {
    char begin = SVR_STX;
    std::string type;     // two characters
    std::string subtype;  // two characters
    std::string data;     // empty: no data
    char end = SVR_ETX;
};

// Listening descriptor on CONTROLADDR (default all addresses):CONTROLPORT, or -1.
int svr_open();
void svr_close();
// The bound port while the socket is open (CONTROLPORT=0: the kernel's pick), else 0.
int svr_port();

enum class SvrReceive { Complete, More, Failed };
// Appends what `fd` holds now, without waiting, up to and including ETX or
// until `buf` holds the 1024-byte limit. Complete: the message is whole;
// More: the socket is drained for now; Failed: closed or broken (logged).
// With `keep_rest`, bytes after ETX stay unread in the socket.
SvrReceive svr_receiveSome(int fd, std::string& buf, bool keep_rest);
// One message read from a connected socket, or nullopt (logged).
std::optional<ServerMessage> svr_getMessage(int fd);
// The message in bytes received up to its ETX (or the 1024-byte limit); bytes
// before STX are skipped. nullopt (logged) when there is no valid frame.
std::optional<ServerMessage> svr_takeMessage(const std::string& received);
// 1 when every byte was sent, 0 otherwise.
int svr_sendMessage(int fd, const ServerMessage& msg);
// While a sink is set for `fd`, every message sent to it is appended there
// instead (the connection's own writer sends it); nullptr ends that.
void svr_captureOutput(int fd, std::string* sink);
// Codes are "%02d" of each value, cut to two characters.
ServerMessage svr_newMessage(int type, int subtype, std::string_view data);
// 1 with the three values set, 0 when the codes are not two digits each.
int svr_parseMessage(const ServerMessage& msg, int& type, int& subtype, std::string& data);
// A type-03 message with `code` as subtype and `text` as data.
int svr_sendReply(int fd, int code, std::string_view text);

// One frame from STX to ETX inclusive; nullopt when it is shorter than six
// bytes or its type or subtype is not two decimal digits.
std::optional<ServerMessage> svr_decodeFrame(std::string_view frame);
// The whole frame as it goes on the wire (data up to its first zero byte).
std::string svr_frame(const ServerMessage& msg);

void svr_setReady();
void svr_setBusy();
int svr_isReady();
