// Default target names, the rule both programs follow: ".encrypted" added when encrypting and
// taken off when decrypting, nothing else about the name changed.

#include "job/target_names.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

std::string targetOf(const std::string& source, bool encrypt, bool& made) {
    NativePath target = nativePathFromUtf8("unchanged");
    made = defaultTargetName(nativePathFromUtf8(source.c_str()), encrypt, target);
    return utf8FromNativePath(target);
}

// UTF-8 text in a string whatever the execution character set (Windows-1252 in the Windows build).
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

}  // namespace

TEST(TargetNames, DefaultNamesBothWaysAndTheNamesWithoutOne) {
    struct Row {
        std::string source;
        bool encrypt;
        bool made;
        std::string target;
    };
    const Row rows[] = {
        {"rapport.pdf", true, true, "rapport.pdf.encrypted"},
        {utf8(u8"mapp/Łódź 钥匙.txt"), true, true, utf8(u8"mapp/Łódź 钥匙.txt.encrypted")},
        {"c.encrypted", true, true, "c.encrypted.encrypted"},
        {"rapport.pdf.encrypted", false, true, "rapport.pdf"},
        {utf8(u8"mapp/Łódź 钥匙.txt.encrypted"), false, true, utf8(u8"mapp/Łódź 钥匙.txt")},
        {"a.encrypted.encrypted", false, true, "a.encrypted"},
        {"rapport.pdf", false, false, "unchanged"},
        {"rapport.ENCRYPTED", false, false, "unchanged"},
        {"rapport.encrypte", false, false, "unchanged"},
        {".encrypted", false, false, "unchanged"},
        {"mapp/.encrypted", false, false, "unchanged"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source + (row.encrypt ? " encrypted" : " decrypted"));
        bool made = false;
        EXPECT_EQ(targetOf(row.source, row.encrypt, made), row.target);
        EXPECT_EQ(made, row.made);
        EXPECT_EQ(hasEncryptedExtension(nativePathFromUtf8(row.source.c_str())),
                  row.source.size() >= 10 && row.source.compare(row.source.size() - 10, 10, ".encrypted") == 0);
    }
    NativePath target;
    EXPECT_FALSE(defaultTargetName(NativePath(), false, target));
    ASSERT_TRUE(defaultTargetName(NativePath(), true, target));
    EXPECT_EQ(utf8FromNativePath(target), ".encrypted");
}
