// The tool's failure messages that name a file and say what is wrong with it, in the program's
// Swedish voice: the program's own message first, then the file and the cause, for example
// Fel vid läsning av källfilen "x.txt": filen finns inte.
#pragma once

#include <string>

#include "platform/failures.h"

// Which side of a job a file is on; a missing target means a missing folder.
enum FileRole { FILE_ROLE_SOURCE, FILE_ROLE_TARGET };

// The cause in words ("filen finns inte", "åtkomst nekas", "disken är full", "det är en mapp",
// "det är ingen vanlig fil", or the system's own text of the error); empty for CAUSE_NONE.
std::string messageCauseText(const PlatformFailure& failure, FileRole role);

// message (a sentence ending in ".") with the file's name, as the user gave it, and the cause
// (messageCauseText, or causeText when that is empty; nothing when both are) put in before the
// final period.
std::string messageWithFile(const char* message, const std::string& utf8Path, const PlatformFailure& failure,
                            FileRole role, const char* causeText = nullptr);

// The path as the console shows it: Windows-1252 in the Windows build, whose texts are in that
// code page, and the UTF-8 bytes elsewhere.
std::string messageShownPath(const std::string& utf8Path);

// Why the file at utf8Path cannot be opened for reading now, asked of the platform layer; cause
// CAUSE_NONE when it can.
PlatformFailure messageDiagnoseRead(const std::string& utf8Path);
