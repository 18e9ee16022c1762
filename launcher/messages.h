// The texts the launcher shows, exactly as users have always seen them.
#pragma once

namespace tavrelo {

inline constexpr char16_t kAppTitle[] = u"Tavrelo";

inline constexpr char16_t kJavaNotInstalledMessage[] =
    u"You have not Installed Java Runtime Environment on your computer.\r\n"
    u"Download and install Java Runtime Environment Version 1.5 or higher version.\r\n"
    u"Please refer installtion guide of Tavrelo for further help";

inline constexpr char16_t kJavaTooOldMessage[] =
    u"Java Runtime Environment version 1.5 or higher version is not avaiable";

inline constexpr char16_t kSearchFailedMessage[] = u"Error While Searching JVM on Your Machine";

inline constexpr char16_t kCopyFailedMessage[] = u"Error While Copying JAR File";

inline constexpr char16_t kStartFailedMessage[] = u"The Java application could not be started.";

}  // namespace tavrelo
