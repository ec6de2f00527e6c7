// Settings of the FIAS vendors. A profile's `reads` says which of the
// optional ones a vendor reads.
#pragma once

#include "settings.h"

inline constexpr Setting kSetFiasUserStrings{"USER_STRINGS", SettingForm::Flag, "off",
                                             "ask the PMS for the user-defined fields A0-A9"};
inline constexpr Setting kSetUsePsPost{"USE_PS_POST", SettingForm::Flag, "off",
                                       "post charges with the simple posting record PS"};
inline constexpr Setting kSetMsgRetries{"MSG_RETRIES", SettingForm::Number, "3",
                                        "attempts to send one record after the first", 3};
inline constexpr Setting kSetFlushTimeout{"FLUSHTIMEOUT", SettingForm::Seconds, "5",
                                          "time-out of the read that drains pending input, seconds (0.2 allowed)", 5};
inline constexpr Setting kSetDbInitTimeout{"DBINITTIMEOUT", SettingForm::Number, "60",
                                           "time allowed for a database resynchronisation, seconds", 60};
inline constexpr Setting kSetAutoDbSwap{"AUTO_DB_SWAP", SettingForm::Flag, "off",
                                        "ask the PMS for a database resynchronisation at link start"};
inline constexpr Setting kSetDepartureOffset{"DEPARTURE_TIME_OFFSET", SettingForm::TimeOfDay, "000000",
                                             "time of day given to departure dates from the PMS"};
inline constexpr Setting kSetOnlineMessages{"REQUEST_ONLINE_MESSAGES", SettingForm::Flag, "off",
                                            "register guest-message records with the PMS at link start"};
inline constexpr Setting kSetOnlineFolio{"REQUEST_ONLINE_FOLIO", SettingForm::Flag, "off",
                                         "register folio records with the PMS at link start"};
inline constexpr Setting kSetSendPostInquiry{"SEND_POST_INQUIRY", SettingForm::Flag, "off",
                                             "send a posting inquiry before each posting (Hilton OnQ)"};
inline constexpr Setting kSetPostNullGuest{"POSTNULLGUEST", SettingForm::Flag, "off",
                                           "post even when no guest is known for the room (Hilton OnQ)"};
inline constexpr Setting kSetVip{"VIP", SettingForm::Number, "0", "apply VIP discounts (not 0)", 0};
inline constexpr Setting kSetVipFile{"VIPFILE", SettingForm::Text, "/usr/local/Tessarine/etc/vornpms_vip.cfg",
                                     "file of VIP codes and their discounts"};

inline constexpr Setting kFiasSettings[] = {
    kSetFiasUserStrings, kSetUsePsPost,       kSetMsgRetries,  kSetFlushTimeout,    kSetDbInitTimeout,
    kSetAutoDbSwap,      kSetDepartureOffset, kSetOnlineMessages, kSetOnlineFolio, kSetSendPostInquiry,
    kSetPostNullGuest,   kSetVip,             kSetVipFile};
