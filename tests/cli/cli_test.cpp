// The command-line tool as a user runs it: exit statuses, round trips through every key method,
// cipher and compression setting, the independent fixtures, settings and the seed file, key
// creation, and that failures never leave or damage files.

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "crypto/cpu_features.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace clitest;
namespace fs = std::filesystem;

namespace {

const char* const KEY_OPTIONS[] = {"--key-file key.key", "--key-code-file code.txt", "--passphrase-file pass.txt"};

}  // namespace

TEST_F(Cli, RoundTripsEverySizeKeyCipherAndCompression) {
    const size_t chunk = size_t(1) << 21;
    struct Size {
        size_t bytes;
        bool compressible;
    };
    const Size sizes[] = {{0, true}, {1, true}, {chunk - 1, true}, {chunk, false}, {chunk + 1, true}};
    int round = 0;
    for (const Size& size : sizes) {
        std::vector<char> plain = textBytes(size.bytes, static_cast<uint32_t>(size.bytes));
        if (!size.compressible) {
            std::mt19937 rng(5);
            for (char& c : plain) c = static_cast<char>(rng());
        }
        writeAll(at("plain.bin"), plain);
        for (const char* key : KEY_OPTIONS) {
            for (const char* cipher : {"aes", "serpent"}) {
                for (const char* compress : {"--compress", "--no-compress"}) {
                    // Every size with the key file; the slower key methods on a rotating subset.
                    if (std::string(key) != KEY_OPTIONS[0] && (round++ % 3) != 0) continue;
                    SCOPED_TRACE(std::to_string(size.bytes) + " " + key + " " + cipher + " " + compress);
                    ASSERT_EQ(
                        run("encrypt plain.bin -o c.enc --force " + std::string(key) + " --cipher " + cipher + " " +
                            compress),
                        0)
                        << errors();
                    ASSERT_EQ(run("verify c.enc " + std::string(key)), 0) << errors();
                    ASSERT_EQ(run("decrypt c.enc -o back.bin --force " + std::string(key)), 0) << errors();
                    ASSERT_EQ(readAll(at("back.bin")), plain);
                }
            }
        }
    }
}

TEST_F(Cli, TwentyMegabytesAcrossTenChunks) {
    std::vector<char> plain = textBytes(20 * 1000 * 1000, 20);
    writeAll(at("plain.bin"), plain);
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file key.key --cipher serpent --compress"), 0) << errors();
    ASSERT_EQ(run("decrypt c.enc -o back.bin --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("back.bin")), plain);
}

// Containers made by an independent implementation of the format open with the tool; the UTF-8
// passphrase file opens the containers that hash its Windows-1252 bytes.
TEST_F(Cli, DecryptsTheIndependentFixtures) {
    const fs::path fixtures = FERROLYN_FIXTURES;
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(fixtures / "containers")) {
        const std::string name = entry.path().filename().string();
        const std::string plainName = name.substr(0, name.find('.'));
        const std::string method =
            name.substr(plainName.size() + 1, name.find('.', plainName.size() + 1) - plainName.size() - 1);
        const std::string key = method == "key" ? "--key-file '" + (fixtures / "key.key").string() + "'"
                                : method == "keycode"
                                    ? "--key-code-file '" + (fixtures / "keycode.txt").string() + "'"
                                    : "--passphrase-file '" + (fixtures / "passphrase.txt").string() + "'";
        SCOPED_TRACE(name);
        ASSERT_EQ(run("decrypt '" + entry.path().string() + "' -o out.bin --force " + key), 0) << errors();
        std::vector<char> expected;
        if (plainName == "pattern-2chunks") {
            for (uint32_t i = 0; i < 2097153; ++i) expected.push_back(static_cast<char>((i * 131 + (i >> 11)) % 256));
        } else {
            for (const auto& plain : fs::directory_iterator(fixtures / "plain")) {
                if (plain.path().stem() == plainName) expected = readAll(plain.path());
            }
        }
        EXPECT_EQ(readAll(at("out.bin")), expected);
        ++checked;
    }
    EXPECT_EQ(checked, 49);
}

TEST_F(Cli, ExitStatusesAndMessages) {
    writeAll(at("plain.bin"), textBytes(5000, 1));
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file key.key"), 0) << errors();
    writeText(at("other.txt"), "ett annat lösenord\n");
    writeText(at("bad-code.txt"), "<0123>\n");
    writeText(at("not-1252.txt"), "pil \xe2\x86\x92 ut\n");
    writeAll(at("short.key"), {67, 0, 0, 0, 13, 0, 0, 0});
    writeAll(at("empty.key"), {});
    fs::create_directories(at("data/plain.bin.encrypted"));
    struct Row {
        const char* name;
        std::string arguments;
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"no command", "", EXIT_USAGE, "Användning"},
        {"unknown command", "shred x", EXIT_USAGE, "Okänt kommando."},
        {"no target and no default name", "decrypt c.enc --key-file key.key", EXIT_USAGE,
         "Filnamnet \"c.enc\" slutar inte på \".encrypted\"; ange målfilen med -o.\n"},
        {"two keys", "encrypt plain.bin -o x --key-file key.key --key-code-file code.txt", EXIT_USAGE, "en nyckel"},
        {"no key", "decrypt c.enc -o x", EXIT_USAGE, "Ange en nyckel."},
        {"bad cipher", "encrypt plain.bin -o x --key-file key.key --cipher des", EXIT_USAGE, "aes eller serpent"},
        {"source missing", "encrypt none.bin -o x --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"none.bin\": filen finns inte.\n"},
        {"source is a folder", "encrypt data -o x --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"data\": det är en mapp.\n"},
        {"container missing", "verify none.enc --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"none.enc\": filen finns inte.\n"},
        {"container is not one", "verify plain.bin --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"plain.bin\": innehållet är skadat eller ingen krypterad fil.\n"},
        {"info of a missing file", "info none.enc", EXIT_READ,
         "Fel vid läsning av källfilen \"none.enc\": filen finns inte.\n"},
        {"key file missing", "encrypt plain.bin -o x --key-file none.key", EXIT_READ,
         "Kunde inte läsa filen \"none.key\": filen finns inte.\n"},
        {"key file is a folder", "encrypt plain.bin -o x --key-file data", EXIT_READ,
         "Kunde inte läsa filen \"data\": det är en mapp.\n"},
        {"key file shorter than it says", "encrypt plain.bin -o x --key-file short.key", EXIT_READ,
         "Kunde inte läsa filen \"short.key\": filen är kortare än den anger.\n"},
        {"key file is not one", "encrypt plain.bin -o x --key-file plain.bin", EXIT_READ, ""},
        {"key file of another format", "encrypt plain.bin -o x --key-file empty.key", EXIT_READ,
         "Felaktigt format på nyckelfilen \"empty.key\".\n"},
        {"key code file missing", "encrypt plain.bin -o x --key-code-file none.txt", EXIT_READ,
         "Kunde inte läsa filen \"none.txt\": filen finns inte.\n"},
        {"passphrase file is a folder", "encrypt plain.bin -o x --passphrase-file data", EXIT_READ,
         "Kunde inte läsa filen \"data\": det är en mapp.\n"},
        {"malformed key code", "encrypt plain.bin -o x --key-code-file bad-code.txt", EXIT_USAGE,
         "Nyckelkoden har ett felaktigt format."},
        {"passphrase outside Windows-1252", "encrypt plain.bin -o x --passphrase-file not-1252.txt", EXIT_USAGE,
         "Lösenfrasen innehåller tecken som inte kan användas."},
        {"wrong method", "decrypt c.enc -o x --passphrase-file other.txt", EXIT_WRONG_KEY,
         "Felaktig nyckelfil, nyckelkod eller lösenfras för den här filen \"c.enc\".\n"},
        {"wrong key code", "decrypt c.enc -o x --key-code-file code.txt", EXIT_WRONG_KEY, "Felaktig nyckelfil"},
        {"target folder missing", "decrypt c.enc -o nowhere/x --key-file key.key", EXIT_WRITE,
         "Fel vid skrivning till målfilen \"nowhere/x\": mappen finns inte.\n"},
        {"target is the source", "encrypt plain.bin -o ./plain.bin --key-file key.key", EXIT_USAGE, "samma fil"},
        {"target in the output folder is a folder", "encrypt plain.bin -o data --key-file key.key", EXIT_WRITE,
         "Fel vid skrivning till målfilen \"data/plain.bin.encrypted\": det är en mapp.\n"},
        {"interactive passphrase without a terminal", "encrypt plain.bin -o x --passphrase", EXIT_USAGE, "terminal"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run(row.arguments), row.status);
        EXPECT_NE(errors().find(row.message), std::string::npos) << errors();
        EXPECT_FALSE(fs::exists(at("x"))) << "a failed command leaves no target";
    }
    EXPECT_FALSE(fs::exists(at("nowhere")));
}

// A failing job leaves a file that already had the target's name exactly as it was, and a damaged
// container is refused by verify without writing anything.
TEST_F(Cli, FailuresNeverTouchAnExistingTarget) {
    std::vector<char> plain = textBytes(3 * (1 << 21) + 5, 9);
    writeAll(at("plain.bin"), plain);
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file key.key"), 0) << errors();
    const std::vector<char> precious = textBytes(1000, 77);
    writeAll(at("precious.txt"), precious);

    EXPECT_EQ(run("decrypt c.enc -o precious.txt --force --passphrase-file pass.txt"), EXIT_WRONG_KEY);
    EXPECT_EQ(readAll(at("precious.txt")), precious);

    std::vector<char> damaged = readAll(at("c.enc"));
    damaged[damaged.size() - 100] ^= 1;  // inside the last chunk
    writeAll(at("damaged.enc"), damaged);
    EXPECT_EQ(run("verify damaged.enc --key-file key.key"), EXIT_READ);
    EXPECT_EQ(errors(),
              "Fel vid läsning av källfilen \"damaged.enc\": innehållet är skadat eller ingen krypterad fil.\n");
    EXPECT_EQ(run("decrypt damaged.enc -o precious.txt --force --key-file key.key"), EXIT_READ);
    EXPECT_EQ(readAll(at("precious.txt")), precious) << "the chunks before the damage must not replace it";
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    ASSERT_EQ(run("decrypt c.enc -o precious.txt --force --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("precious.txt")), plain) << "success replaces it";
}

TEST_F(Cli, SettingsFileDecidesWhenNoOptionsAreGiven) {
    writeAll(at("plain.bin"), textBytes(10000, 3));
    std::string info;
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file key.key"), 0) << errors();
    ASSERT_EQ(run("info c.enc", &info), 0);
    EXPECT_NE(info.find("AES-256 CBC"), std::string::npos) << info;
    EXPECT_NE(info.find("Komprimering: nej"), std::string::npos) << info;

    writeAll(workingDirectory() / "config.bin", {2, 0, 0, 0, 1, 1});
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --force --passphrase-file pass.txt"), 0) << errors();
    ASSERT_EQ(run("info c.enc", &info), 0);
    EXPECT_NE(info.find("Serpent CBC"), std::string::npos) << info;
    EXPECT_NE(info.find("Komprimering: ja"), std::string::npos) << info;
    EXPECT_NE(info.find("Nyckel: lösenfras"), std::string::npos) << info;
    EXPECT_NE(info.find("Huvudets storlek: 46 byte"), std::string::npos) << info;

    ASSERT_EQ(run("encrypt plain.bin -o c.enc --force --key-file key.key --cipher aes --no-compress"), 0) << errors();
    ASSERT_EQ(run("info c.enc", &info), 0);
    EXPECT_NE(info.find("AES-256 CBC"), std::string::npos) << "options win over the settings";
    EXPECT_NE(info.find("Komprimering: nej"), std::string::npos) << info;
}

TEST_F(Cli, KeyCreationAndTheSeedFile) {
    const std::vector<char> key = readAll(at("key.key"));
    ASSERT_EQ(key.size(), 71u);
    EXPECT_EQ(std::string(key.begin() + 8, key.begin() + 21), "EncryptionKey");
    EXPECT_EQ(run("new-key-file key.key"), EXIT_WRITE) << "an existing key file is never overwritten";
    EXPECT_EQ(readAll(at("key.key")), key);

    const std::vector<char> code = readAll(at("code.txt"));
    ASSERT_EQ(code.size(), 67u);
    EXPECT_EQ(code.front(), '<');
    EXPECT_EQ(code[65], '>');
    for (size_t i = 1; i < 65; ++i) EXPECT_TRUE(std::isxdigit(code[i]) && !std::isupper(code[i])) << i;

    std::string first, second;
    ASSERT_EQ(run("new-passphrase", &first), 0);
    ASSERT_EQ(run("new-passphrase", &second), 0);
    ASSERT_EQ(first.size(), 43u);
    EXPECT_NE(first, second);
    for (size_t i = 0; i < 42; ++i) {
        EXPECT_NE(
            std::string("abcdefghiljklmopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?=/&%#!-+*").find(first[i]),
            std::string::npos);
    }

    const std::vector<char> seed = readAll(workingDirectory() / "rand.bin");
    ASSERT_EQ(seed.size(), 520u);
    EXPECT_EQ(std::vector<char>(seed.begin(), seed.begin() + 8), (std::vector<char>{4, 2, 0, 0, 0, 2, 0, 0}));
    ASSERT_EQ(run("new-key-code"), 0);
    EXPECT_NE(readAll(workingDirectory() / "rand.bin"), seed) << "every run leaves a fresh seed file";
}

// Sources, containers and targets that are FIFOs are refused at once instead of waiting for a
// writer or reader on the other end (run() kills a tool that hangs, which fails the test).
TEST_F(Cli, FifosAreRefusedWithoutWaiting) {
    writeAll(at("plain.bin"), textBytes(5000, 1));
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file key.key"), 0) << errors();
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    struct Row {
        const char* name;
        const char* arguments;
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"encrypt from a FIFO", "encrypt fifo -o x --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"fifo\": det är ingen vanlig fil.\n"},
        {"decrypt from a FIFO", "decrypt fifo -o x --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"fifo\": det är ingen vanlig fil.\n"},
        {"verify a FIFO", "verify fifo --key-file key.key", EXIT_READ,
         "Fel vid läsning av källfilen \"fifo\": det är ingen vanlig fil.\n"},
        {"info of a FIFO", "info fifo", EXIT_READ, "Fel vid läsning av källfilen \"fifo\": det är ingen vanlig fil.\n"},
        {"encrypt into a FIFO", "encrypt plain.bin -o fifo --key-file key.key", EXIT_WRITE,
         "Fel vid skrivning till målfilen \"fifo\": det är ingen vanlig fil.\n"},
        {"decrypt into a FIFO", "decrypt c.enc -o fifo --key-file key.key", EXIT_WRITE,
         "Fel vid skrivning till målfilen \"fifo\": det är ingen vanlig fil.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run(row.arguments), row.status);
        EXPECT_EQ(errors(), row.message);
        EXPECT_FALSE(fs::exists(at("x")));
    }
    EXPECT_TRUE(fs::is_fifo(at("fifo")));
}

// A key file that cannot be measured (a pipe, as from process substitution) is read like a file.
TEST_F(Cli, KeyFileThroughAPipe) {
    const std::vector<char> plain = textBytes(100000, 4);
    writeAll(at("plain.bin"), plain);
    ASSERT_EQ(run("encrypt plain.bin -o c.enc --key-file /dev/stdin", nullptr, "cat key.key"), 0) << errors();
    ASSERT_EQ(run("decrypt c.enc -o back.bin --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("back.bin")), plain);
    ASSERT_EQ(run("verify c.enc --key-file /dev/stdin", nullptr, "cat key.key"), 0) << errors();
    EXPECT_EQ(run("verify c.enc --key-file /dev/stdin", nullptr, "head -c 60 key.key"), EXIT_READ);
    EXPECT_EQ(errors(), "Kunde inte läsa filen \"/dev/stdin\": filen är kortare än den anger.\n");
}

// Key files and the seed file hold secrets: only their owner may read them.
TEST_F(Cli, KeyAndSeedFilesAreReadableByTheOwnerOnly) {
    for (const fs::path& path : {at("key.key"), workingDirectory() / "rand.bin"}) {
        SCOPED_TRACE(path.string());
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

// Permissions do not bind the superuser: as root the tool runs as the unprivileged user "nobody",
// owner of the test folder, so that the refusal is real wherever the test runs.
TEST_F(Cli, AccessDeniedIsNamed) {
    writeAll(at("plain.bin"), textBytes(5000, 1));
    if (::geteuid() == 0) {
        constexpr uid_t NOBODY = 65534;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            ASSERT_EQ(::lchown(entry.path().c_str(), NOBODY, NOBODY), 0) << entry.path();
        }
        ASSERT_EQ(::chown(dir_.c_str(), NOBODY, NOBODY), 0);
        runAs_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    ASSERT_EQ(::chmod(at("plain.bin").c_str(), 0), 0);
    EXPECT_EQ(run("encrypt plain.bin -o x --key-file key.key"), EXIT_READ);
    EXPECT_EQ(errors(), "Fel vid läsning av källfilen \"plain.bin\": åtkomst nekas.\n");
    EXPECT_FALSE(fs::exists(at("x")));
    runAs_.clear();
}

// The first line is what packages and scripts read and stays exactly as it is; the second names
// the engines: the fastest that this processor offers, or the portable ones under
// FERROLYN_PORTABLE (which "0" does not ask for).
TEST_F(Cli, VersionNamesTheEngines) {
    const CpuFeatures offered = cpuDetectFeatures();
    const std::string fast = std::string("Motorer: AES-256 ") + (offered.aesni && offered.ssse3 ? "AES-NI" : "portabel") +
                             ", SHA-256 " + (offered.sha ? "SHA-NI" : "portabel") + ", Serpent " +
                             (offered.sse2 && offered.avx2 ? "AVX2" : offered.sse2 ? "SSE2" : "portabel") + "\n";
    const struct {
        const char* environment;
        std::string engines;
    } rows[] = {
        {"env -u FERROLYN_PORTABLE ", fast},
        {"env FERROLYN_PORTABLE=0 ", fast},
        {"env FERROLYN_PORTABLE=1 ", "Motorer: AES-256 portabel, SHA-256 portabel, Serpent portabel\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.environment);
        runAs_ = row.environment;
        std::string output;
        EXPECT_EQ(run("--version", &output), 0);
        EXPECT_EQ(output, "ferrolyn " FERROLYN_PROJECT_VERSION "\n" + row.engines);
        EXPECT_EQ(errors(), "");
    }
    runAs_.clear();
}
