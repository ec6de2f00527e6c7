// Settings of the daemon core, the PMS link and the control server.
#pragma once

#include "settings.h"

inline constexpr Setting kSetPostDelay{"POSTDELAY", SettingForm::StrictUnsigned, "required",
                                       "period of the charge scan-and-post cycle, seconds"};
inline constexpr Setting kSetVendor{"VENDOR", SettingForm::Text, "required",
                                    "vendor implementation, exactly as its registry name"};
inline constexpr Setting kSetLanIp{"LAN_IP", SettingForm::Address, "none",
                                   "multicast interface address when PMSMCAST_IP is absent"};
inline constexpr Setting kSetMcastIp{"PMSMCAST_IP", SettingForm::Address, "LAN_IP",
                                     "interface address of the multicast announcements"};
inline constexpr Setting kSetMcastPort{"PMSMCAST_PORT", SettingForm::Number, "5657",
                                       "UDP port of the multicast announcements", 5657};
inline constexpr Setting kSetPostZero{"POST_ZERO_CHARGE", SettingForm::FlagUnlessZero, "on",
                                      "post charges of 0.00 to the PMS (\"0\" turns it off)"};
inline constexpr Setting kSetPostJournal{"POSTJOURNAL", SettingForm::Text, "the lock file's path + .postjournal",
                                        "file where charges the PMS took wait for their posted mark"};

inline constexpr Setting kSetCommType{"PMSCOMMTYPE", SettingForm::Choice, "required",
                                      "transport of the PMS link", 0, "TCP|UDP|RS232|SFTP"};
inline constexpr Setting kSetCommOpts{"PMSCOMMOPTS", SettingForm::Text, "required",
                                      "transport parameters, fields separated by |"};
inline constexpr Setting kSetCommSrcOpts{"PMSCOMMSRCOPTS", SettingForm::Text, "any local address",
                                         "local address|port the PMS connection binds to"};
// The link requires it; the vendors that read it themselves fall back to 30.
inline constexpr Setting kSetCommTimeout{"PMSCOMMTIMEOUT", SettingForm::StrictUnsigned, "required (30 in the vendors)",
                                         "read time-out on the PMS link, seconds", 30};
inline constexpr Setting kSetLinkLog{"LINKLOGFILE", SettingForm::Text, "none",
                                     "file the link traffic log is appended to"};

inline constexpr Setting kSetControlPort{"CONTROLPORT", SettingForm::StrictInt, "required",
                                         "TCP port of the control server (low 16 bits)"};
inline constexpr Setting kSetControlAddr{"CONTROLADDR", SettingForm::Address, "all addresses",
                                         "IPv4 address the control port binds to"};

inline constexpr Setting kCoreSettings[] = {kSetPostDelay, kSetVendor, kSetLanIp, kSetMcastIp, kSetMcastPort,
                                            kSetPostZero, kSetPostJournal};
inline constexpr Setting kLinkSettings[] = {kSetCommType, kSetCommOpts, kSetCommSrcOpts, kSetCommTimeout,
                                            kSetLinkLog};
inline constexpr Setting kServerSettings[] = {kSetControlPort, kSetControlAddr};
