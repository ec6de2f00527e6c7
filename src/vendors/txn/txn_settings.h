// Settings of GalaVu, Galaxy and HTNG. MSG_RETRIES, FLUSHTIMEOUT and
// PMSCOMMTIMEOUT are read here with this family's own defaults.
#pragma once

#include "settings.h"

inline constexpr Setting kSetTxnRetries{"MSG_RETRIES", SettingForm::Number, "3",
                                        "sends of one record, at most 3", 3};
inline constexpr Setting kSetLastNameFirst{"LAST_NAME_FIRST", SettingForm::Number, "0",
                                           "GalaVu names are sent last name first (not 0)", 0};
inline constexpr Setting kSetGalavuWait{"GALAVU_WAIT_TIMEOUT", SettingForm::Number, "60",
                                        "GalaVu's wait for the answer to a request, seconds", 60};
inline constexpr Setting kSetTxnFlush{"FLUSHTIMEOUT", SettingForm::Number, "3",
                                      "time-out of the read that drains pending input, seconds", 3};
inline constexpr Setting kSetTxnRead{"PMSCOMMTIMEOUT", SettingForm::Number, "3",
                                     "time-out of a record read, seconds", 3};

inline constexpr Setting kTxnSettings[] = {kSetTxnRetries, kSetLastNameFirst, kSetGalavuWait, kSetTxnFlush,
                                           kSetTxnRead};
