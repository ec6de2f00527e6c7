// Settings of Marriott and Marriott FOSSE.
#pragma once

#include "settings.h"

inline constexpr Setting kSetLookWait{"LOOK_WAIT", SettingForm::Number, "60",
                                      "wait for the answer to a guest look-up, seconds", 60};
inline constexpr Setting kSetNameWait{"NAME_WAIT", SettingForm::Number, "10",
                                      "wait for each further name of a look-up answer, seconds", 10};

inline constexpr Setting kLineSettings[] = {kSetLookWait, kSetNameWait};
