// The settings file "config.bin" in the current directory: the bytes saveSettings writes, and what
// loadSettings makes of every kind of file, including none.

#include "job/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/hex.h"

using namespace testsupport;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    TempDir dir_;
    CurrentDirectoryGuard inDir_{dir_.path()};
};

}  // namespace

TEST_F(SettingsFile, SaveWritesSixBytes) {
    struct Row {
        CipherAlgorithm cipher;
        bool compress;
        const char* fileHex;
    };
    const Row rows[] = {
        {CIPHER_AES256, false, "020000000000"},
        {CIPHER_AES256, true, "020000000001"},
        {CIPHER_SERPENT, false, "020000000100"},
        {CIPHER_SERPENT, true, "020000000101"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fileHex);
        ASSERT_TRUE(saveSettings({row.cipher, row.compress}));
        EXPECT_EQ(toHex(readFileBytes("config.bin")), row.fileHex);
        Settings loaded{row.cipher == CIPHER_AES256 ? CIPHER_SERPENT : CIPHER_AES256, !row.compress};
        loadSettings(loaded);
        EXPECT_EQ(loaded.cipher, row.cipher);
        EXPECT_EQ(loaded.compress, row.compress);
    }
}

// Every load starts from a record holding the opposite of what the file should give, so a field
// that loadSettings forgot to set shows.
TEST_F(SettingsFile, LoadReadsTheFirstTwoPayloadBytes) {
    struct Row {
        const char* name;
        bool present;
        const char* fileHex;
        CipherAlgorithm cipher;
        bool compress;
    };
    const Row rows[] = {
        {"no file: the defaults", false, "", CIPHER_AES256, false},
        {"empty file: empty payload, the defaults", true, "", CIPHER_AES256, false},
        {"empty payload", true, "00000000", CIPHER_AES256, false},
        {"one byte 00", true, "01000000 00", CIPHER_AES256, false},
        {"one byte 01: Serpent, compression byte missing", true, "01000000 01", CIPHER_SERPENT, false},
        {"07 00: any nonzero byte is Serpent", true, "02000000 0700", CIPHER_SERPENT, false},
        {"00 ff: any nonzero byte compresses", true, "02000000 00ff", CIPHER_AES256, true},
        {"longer payload: the rest is ignored", true, "04000000 0101 0000", CIPHER_SERPENT, true},
        {"payload cut short: unreadable, the defaults", true, "03000000 0101", CIPHER_AES256, false},
        {"length over 2^30: the defaults", true, "01000040 0101", CIPHER_AES256, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code ignored;
        fs::remove("config.bin", ignored);
        if (row.present) writeFileBytes("config.bin", fromHex(row.fileHex));
        for (const Settings& start : {Settings{CIPHER_AES256, false}, Settings{CIPHER_SERPENT, true}}) {
            Settings settings = start;
            loadSettings(settings);
            EXPECT_EQ(settings.cipher, row.cipher);
            EXPECT_EQ(settings.compress, row.compress);
        }
    }
}

TEST_F(SettingsFile, SaveReplacesALongerFileAndFailsWhereNothingCanBeWritten) {
    writeFileBytes("config.bin", fromHex("0400000001010101"));
    ASSERT_TRUE(saveSettings({CIPHER_AES256, false}));
    EXPECT_EQ(toHex(readFileBytes("config.bin")), "020000000000");

    fs::remove("config.bin");
    fs::create_directory("config.bin");
    EXPECT_FALSE(saveSettings({CIPHER_SERPENT, true}));
    Settings settings{CIPHER_SERPENT, true};
    loadSettings(settings);
    EXPECT_EQ(settings.cipher, CIPHER_AES256) << "an unreadable file gives the defaults";
    EXPECT_FALSE(settings.compress);
}
