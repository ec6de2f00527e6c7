// Settings of the SFTP transport.
#pragma once

#include "settings.h"

inline constexpr Setting kSetSftpUser{"SFTP_USERNAME", SettingForm::Text, "required (SFTP)",
                                      "user name on the SFTP server"};
inline constexpr Setting kSetSftpPassword{"SFTP_PASSWORD", SettingForm::Text, "required (SFTP)",
                                          "password on the SFTP server"};
inline constexpr Setting kSetSftpDir{"SFTP_DIR", SettingForm::Text, "~/",
                                     "directory of the files: an absolute path, ~/ or ~/sub"};
inline constexpr Setting kSetSftpHostKey{"SFTP_HOSTKEY", SettingForm::Text, "not pinned",
                                         "the server's host-key fingerprint, SHA256: and 43 characters"};

inline constexpr Setting kSftpSettings[] = {kSetSftpUser, kSetSftpPassword, kSetSftpDir, kSetSftpHostKey};
