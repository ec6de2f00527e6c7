// Settings of the database layer.
#pragma once

#include "settings.h"

inline constexpr Setting kSetDbName{"DBNAME", SettingForm::Text, "required", "gateway database name"};
inline constexpr Setting kSetDbUser{"DBUSER", SettingForm::Text, "required", "gateway database user"};
inline constexpr Setting kSetDbPass{"DBPASS", SettingForm::Text, "required", "gateway database password"};
inline constexpr Setting kSetDbHost{"DBHOST", SettingForm::Text, "libpq's default",
                                    "host name, address or socket directory of PostgreSQL"};
inline constexpr Setting kSetDbPort{"DBPORT", SettingForm::Text, "libpq's default", "port of PostgreSQL"};
inline constexpr Setting kSetPsiNo{"PSI_NO", SettingForm::Number, "0",
                                   "PMS service instance: selects this interface's rows", 0};
// The scan's own reading of POSTDELAY, for its cut-off time.
inline constexpr Setting kSetScanPostDelay{"POSTDELAY", SettingForm::Number, "0",
                                           "cut-off of the scan when POSTEXPIRED is 0, seconds", 0};
inline constexpr Setting kSetPostExpired{"POSTEXPIRED", SettingForm::Number, "-1",
                                         "which charges the scan takes by their expiry (0, or 2 and more hours)", -1};
inline constexpr Setting kSetPostOnlyEffective{"POST_ONLY_EFFECTIVE", SettingForm::Number, "-1",
                                               "filter handed to the session scan", -1};
inline constexpr Setting kSetCustomWhere{"SESSION_INFO_CUSTOM_WHERE", SettingForm::Text, "none",
                                         "extra condition of the session scan, # stands for a quote"};
inline constexpr Setting kSetMoveSessions{"MOVE_SESSION_INFO_RECORDS", SettingForm::Number, "0",
                                          "a guest's sessions follow a room move (not 0)", 0};
inline constexpr Setting kSetExpireOnCheckout{"EXPIRE_ON_CHECKOUT", SettingForm::Number, "0",
                                              "whether and how a room's sessions expire at check-out", 0};
// The database layer reads words; the FIAS vendors read the same key as a flag.
inline constexpr Setting kSetDbUserStrings{"USER_STRINGS", SettingForm::FlagWords, "off",
                                           "store the PMS's user-defined fields (\"no\", \"false\", \"0\": off)"};

inline constexpr Setting kDbSettings[] = {kSetDbName,      kSetDbUser,          kSetDbPass,      kSetDbHost,
                                          kSetDbPort,      kSetPsiNo,           kSetScanPostDelay,
                                          kSetPostExpired, kSetPostOnlyEffective, kSetCustomWhere,
                                          kSetMoveSessions, kSetExpireOnCheckout, kSetDbUserStrings};
