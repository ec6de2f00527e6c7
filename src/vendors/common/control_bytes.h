// Control bytes of the framed PMS protocols, shared by the vendors, the PMS
// simulator and the tests' scripted peers.
#pragma once

namespace ctl {

inline constexpr char NUL = 0x00;
inline constexpr char SOH = 0x01;
inline constexpr char STX = 0x02;  // starts a frame
inline constexpr char ETX = 0x03;  // ends a frame's text
inline constexpr char EOT = 0x04;  // ends a turn on the line
inline constexpr char ENQ = 0x05;  // bids for the line, or asks for the last answer again
inline constexpr char ACK = 0x06;
inline constexpr char LF = 0x0A;
inline constexpr char CR = 0x0D;
inline constexpr char XON = 0x11;   // DC1: the peer resumes
inline constexpr char XOFF = 0x13;  // DC3: the peer asks us to pause
inline constexpr char NAK = 0x15;
inline constexpr char ETB = 0x17;  // ends a frame's text where more frames follow

// "STX", "ACK" ... for the bytes above; nullptr for any other byte.
constexpr const char* name(char c) {
    switch (c) {
        case NUL: return "NUL";
        case SOH: return "SOH";
        case STX: return "STX";
        case ETX: return "ETX";
        case EOT: return "EOT";
        case ENQ: return "ENQ";
        case ACK: return "ACK";
        case LF: return "LF";
        case CR: return "CR";
        case XON: return "XON";
        case XOFF: return "XOFF";
        case NAK: return "NAK";
        case ETB: return "ETB";
        default: return nullptr;
    }
}

}  // namespace ctl
