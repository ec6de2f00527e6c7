// Settings of JDS. PMSCOMMTIMEOUT is read two ways: as the wait for a record
// and, with a longer default, as the wait for a record's acknowledgement.
#pragma once

#include "settings.h"

inline constexpr Setting kSetJdsRetries{"MSG_RETRIES", SettingForm::Number, "4", "sends of one record", 4};
inline constexpr Setting kSetJdsFlush{"FLUSHTIMEOUT", SettingForm::Number, "3",
                                      "time-out of the read that drains pending input, seconds", 3};
inline constexpr Setting kSetJdsRead{"PMSCOMMTIMEOUT", SettingForm::Number, "3",
                                     "time-out of a record read, seconds", 3};
inline constexpr Setting kSetJdsAckWait{"PMSCOMMTIMEOUT", SettingForm::Number, "15",
                                        "wait for the acknowledgement of a sent record, seconds", 15};

inline constexpr Setting kJdsSettings[] = {kSetJdsRetries, kSetJdsFlush, kSetJdsRead, kSetJdsAckWait};
