// The Win32 platform layer under Wine: ANSI and UTF-8 paths to UTF-16, the share modes and
// creation modes of the file calls, rename-over, the same-file identity, CryptoAPI random bytes
// and the working folder.

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/platform.h"

namespace {

std::wstring wideOf(const NativePath& path) {
    if (path.size() < 2) return L"<empty>";
    return std::wstring(reinterpret_cast<const wchar_t*>(path.data()), path.size() / 2 - 1);
}

TEST(NativePath, AnsiTextConvertsThroughTheAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u) << "these rows are Windows-1252";
    struct Row {
        const char* text;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {"C:\\d\\report.pdf", L"C:\\d\\report.pdf"},
        {"C:\\d\\\xE5\xE4\xF6.key", L"C:\\d\\\u00E5\u00E4\u00F6.key"},
        // 0x80-0x9F are where a byte-for-code-unit mapping would name the wrong file.
        {"C:\\d\\\x80 \x8A \x9F", L"C:\\d\\\u20AC \u0160 \u0178"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const NativePath path = nativePathFromText(fromNulTerminated(row.text));
        EXPECT_EQ(wideOf(path), row.expected);
        EXPECT_EQ(path.size() % 2, 0u);
    }
}

TEST(NativePath, NoTextGivesNoPath) {
    EXPECT_TRUE(nativePathFromText(SecureBuffer()).empty());
    EXPECT_TRUE(nativePathFromText(fromNulTerminated("")).empty());
    const uint8_t unterminated[] = {'a', 'b'};
    EXPECT_TRUE(nativePathFromText(SecureBuffer(unterminated, 2)).empty());
}

TEST(NativePath, Utf8ConvertsAndInvalidUtf8IsRefused) {
    EXPECT_EQ(wideOf(nativePathFromUtf8("C:\\d\\\xE2\x82\xAC\xC3\xA5")), L"C:\\d\\\u20AC\u00E5");
    EXPECT_TRUE(nativePathFromUtf8("C:\\d\\\xE5").empty());
    EXPECT_TRUE(nativePathFromUtf8(nullptr).empty());
}

// A fresh folder under the temporary folder, removed with its files afterwards.
class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "ferrolyn_platform_" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::string& name : created_) DeleteFileA(ansi(name).c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    std::string ansi(const std::string& name) { return folder_ + "\\" + name; }
    NativePath path(const std::string& name) {
        created_.push_back(name);
        return nativePathFromText(fromNulTerminated(ansi(name).c_str()));
    }

    void writeWhole(const std::string& name, const std::string& content) {
        PlatformFile file;
        ASSERT_TRUE(platformCreateWrite(path(name), file));
        ASSERT_TRUE(platformWrite(file, reinterpret_cast<const uint8_t*>(content.data()),
                                  static_cast<uint32_t>(content.size())));
        ASSERT_TRUE(platformClose(file));
    }

    std::string readWhole(const std::string& name) {
        PlatformFile file;
        if (!platformOpenRead(path(name), file)) return "<cannot open>";
        std::string content(64, '\0');
        uint32_t got = 0;
        const bool ok = platformRead(file, reinterpret_cast<uint8_t*>(content.data()), 64, got);
        platformClose(file);
        return ok ? content.substr(0, got) : "<cannot read>";
    }

    std::string folder_;
    std::vector<std::string> created_;
};

TEST_F(PlatformFiles, WriteSeekReadAndSize) {
    PlatformFile file;
    ASSERT_TRUE(platformCreateWrite(path("data.bin"), file));
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(platformWrite(file, bytes, sizeof bytes));
    ASSERT_TRUE(platformClose(file));
    EXPECT_FALSE(file.valid);

    ASSERT_TRUE(platformOpenRead(path("data.bin"), file));
    uint64_t size = 0;
    ASSERT_TRUE(platformFileSize(file, size));
    EXPECT_EQ(size, 8u);
    ASSERT_TRUE(platformSeek(file, 5));
    uint8_t out[8] = {};
    uint32_t got = 0;
    ASSERT_TRUE(platformRead(file, out, 8, got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(out[0], 6);
    EXPECT_EQ(out[2], 8);
    ASSERT_TRUE(platformRead(file, out, 8, got));
    EXPECT_EQ(got, 0u) << "end of file";
    EXPECT_FALSE(platformWrite(file, bytes, 1)) << "opened for reading only";
    ASSERT_TRUE(platformClose(file));
}

TEST_F(PlatformFiles, CreationModes) {
    PlatformFile file;
    EXPECT_FALSE(platformOpenRead(path("missing.bin"), file));
    EXPECT_FALSE(file.valid);

    writeWhole("old.bin", "old contents");
    EXPECT_FALSE(platformCreateNew(path("old.bin"), file)) << "create-new never replaces";
    EXPECT_EQ(readWhole("old.bin"), "old contents");
    writeWhole("old.bin", "new");
    EXPECT_EQ(readWhole("old.bin"), "new") << "create-or-truncate truncates";

    ASSERT_TRUE(platformCreateNew(path("fresh.bin"), file));
    ASSERT_TRUE(platformClose(file));
    EXPECT_EQ(readWhole("fresh.bin"), "");
}

TEST_F(PlatformFiles, ShareModes) {
    writeWhole("shared.bin", "x");
    PlatformFile reader, second, writer;
    ASSERT_TRUE(platformOpenRead(path("shared.bin"), reader));
    EXPECT_TRUE(platformOpenRead(path("shared.bin"), second)) << "readers share with readers";
    EXPECT_FALSE(platformCreateWrite(path("shared.bin"), writer)) << "a reader keeps writers out";
    platformClose(second);
    platformClose(reader);

    ASSERT_TRUE(platformCreateWrite(path("shared.bin"), writer));
    EXPECT_FALSE(platformOpenRead(path("shared.bin"), reader)) << "a writer shares with nobody";
    platformClose(writer);
}

TEST_F(PlatformFiles, RenameOverReplacesAndDeleteRemoves) {
    writeWhole("from.bin", "from");
    writeWhole("to.bin", "to");
    ASSERT_TRUE(platformRenameOver(path("from.bin"), path("to.bin")));
    EXPECT_EQ(readWhole("to.bin"), "from");
    EXPECT_EQ(readWhole("from.bin"), "<cannot open>");
    EXPECT_TRUE(platformDelete(path("to.bin")));
    EXPECT_FALSE(platformDelete(path("to.bin")));
    EXPECT_FALSE(platformRenameOver(path("gone.bin"), path("to.bin")));
}

TEST_F(PlatformFiles, SameFileByIdentity) {
    writeWhole("one.bin", "1");
    writeWhole("two.bin", "2");
    const NativePath one = path("one.bin");
    // The same file through another path text: a "." component and other letter case.
    const NativePath oneAgain = nativePathFromText(fromNulTerminated((folder_ + "\\.\\ONE.BIN").c_str()));
    EXPECT_TRUE(platformSameFile(one, one));
    EXPECT_TRUE(platformSameFile(one, oneAgain));
    EXPECT_FALSE(platformSameFile(one, path("two.bin")));
    EXPECT_FALSE(platformSameFile(one, path("missing.bin")));
    PlatformFile writer;
    ASSERT_TRUE(platformCreateWrite(path("two.bin"), writer));
    EXPECT_TRUE(platformSameFile(path("two.bin"), path("two.bin"))) << "also while a writer holds it unshared";
    platformClose(writer);
}

TEST(PlatformRandom, CryptoApiFillsTheBuffer) {
    uint8_t a[32] = {}, b[32] = {};
    ASSERT_TRUE(platformSystemRandom(a, sizeof a));
    ASSERT_TRUE(platformSystemRandom(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    const uint8_t zeros[32] = {};
    EXPECT_NE(std::memcmp(a, zeros, sizeof a), 0);
}

TEST(WorkingFolder, IsLocalApplicationDataPlusQxWd) {
    char before[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, before);
    char local[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, local), S_OK);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "may create the folder" : "the folder exists");
        ASSERT_TRUE(selectWorkingDirectory());
        char now[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, now);
        EXPECT_EQ(std::string(now), std::string(local) + "\\QX_wd");
    }
    SetCurrentDirectoryA(before);
}

}  // namespace
