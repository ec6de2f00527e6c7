// Settings of the checks every vendor applies to PMS text.
#pragma once

#include "settings.h"

inline constexpr Setting kSetPmsCharset{"PMS_CHARSET", SettingForm::Text, "ISO-8859-1",
                                        "character set of PMS text that is not valid UTF-8, as iconv -l names it"};

inline constexpr Setting kPmsTextSettings[] = {kSetPmsCharset};
