// Settings of Micros 4700: the guest cache, and its own reading of the
// read time-out.
#pragma once

#include "settings.h"

inline constexpr Setting kSetRoomsCachedPerRun{"NUM_ROOMS_CACHED_PER_RUN", SettingForm::Number, "5",
                                               "rooms whose guests are asked again at one idle scan", 5};
inline constexpr Setting kSetRoomCacheAge{"ROOM_CACHE_AGE_IN_HOURS", SettingForm::Number, "4",
                                          "hours after which a room's guests are asked again", 4};

inline constexpr Setting kSetM4700Read{"PMSCOMMTIMEOUT", SettingForm::Number, "10",
                                      "wait for each answer, seconds (1 to 3600, else 10)", 10};

inline constexpr Setting kMicros4700Settings[] = {kSetRoomsCachedPerRun, kSetRoomCacheAge, kSetM4700Read};
