// The name a job's result takes when the user names none, in both programs: encrypting "x" gives
// "x.encrypted", decrypting "x.encrypted" gives "x". The desktop program offers it in its save
// dialog; the tool writes there unless told otherwise.
#pragma once

#include "base/native_file.h"

// Whether path ends with ".encrypted", letter case counting.
bool hasEncryptedExtension(const NativePath& path);

// The default target of source (a file name or a whole path; the result keeps its folder) into
// target. Encrypting always has one. Decrypting has one only when source ends with ".encrypted"
// and is more than that: false otherwise, target untouched.
[[nodiscard]] bool defaultTargetName(const NativePath& source, bool encrypt, NativePath& target);
