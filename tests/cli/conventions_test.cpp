// The tool's conventions as a user meets them: default target names, several sources in one run
// with one key input, no silent overwrite, inputs that are never overwritten, too long key texts,
// decryption to standard output, and Ctrl-C in the middle of a run.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_fixture.h"

using namespace clitest;
namespace fs = std::filesystem;

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

bool hasTemporaryFile(const fs::path& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().extension() == ".tmp") return true;
    }
    return false;
}

class CliConventions : public Cli {
protected:
    // Starts the tool through the shell without waiting; its standard output and error go to files
    // as in run(). terminal, when not -1, becomes its standard input and, with terminalOutput, its
    // standard output.
    pid_t start(const std::string& arguments, int terminal = -1, bool terminalOutput = false) const {
        const std::string command = "cd '" + dir_.string() + "' && XDG_DATA_HOME='" + (dir_ / "data").string() +
                                    "' exec '" FERROLYN_CLI "' " + arguments +
                                    (terminalOutput ? "" : " > '" + (dir_ / "stdout.txt").string() + "'") + " 2> '" +
                                    (dir_ / "stderr.txt").string() + "'" + (terminal < 0 ? " < /dev/null" : "");
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (terminal >= 0) {
                ::setsid();
                ::dup2(terminal, STDIN_FILENO);
                if (terminalOutput) ::dup2(terminal, STDOUT_FILENO);
            }
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }

    // Waits up to ten minutes for the tool; kills it and reports -1 after that.
    static int finish(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 60000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }

    // Runs the tool with a pseudo-terminal as its standard input and answers every prompt that
    // appears on its standard error with line; prompts receives how many there were.
    int runAnswering(const std::string& arguments, const std::string& line, size_t& prompts) const {
        int master = -1, slave = -1;
        EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const pid_t pid = start(arguments, slave);
        ::close(slave);
        prompts = 0;
        int status = -1;
        for (int i = 0; i < 60000; ++i) {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) == pid) {
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                break;
            }
            const std::string shown = errors();
            const size_t seen = count(shown, "Lösenfras: ") + count(shown, "Upprepa lösenfrasen: ");
            if (seen > prompts) {
                prompts = seen;
                const std::string answer = line + "\n";
                EXPECT_EQ(::write(master, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
            }
            // The terminal's output side is drained so that nothing the tool might write blocks it.
            char sink[256];
            pollfd ready{master, POLLIN, 0};
            while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0 && ::read(master, sink, sizeof sink) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(master);
        return status;
    }
};

}  // namespace

TEST_F(CliConventions, DefaultNamesBothWaysAndTheRefusedName) {
    fs::create_directories(at("mapp"));
    const std::vector<char> plain = textBytes(70000, 3);
    writeAll(at("mapp/Łódź 钥匙.txt"), plain);
    ASSERT_EQ(run("encrypt 'mapp/Łódź 钥匙.txt' --key-file key.key"), 0) << errors();
    ASSERT_TRUE(fs::exists(at("mapp/Łódź 钥匙.txt.encrypted")));
    fs::remove(at("mapp/Łódź 钥匙.txt"));
    ASSERT_EQ(run("decrypt 'mapp/Łódź 钥匙.txt.encrypted' --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("mapp/Łódź 钥匙.txt")), plain);

    fs::rename(at("mapp/Łódź 钥匙.txt.encrypted"), at("c.enc"));
    EXPECT_EQ(run("decrypt c.enc --key-file key.key"), EXIT_USAGE);
    EXPECT_EQ(errors(), "Filnamnet \"c.enc\" slutar inte på \".encrypted\"; ange målfilen med -o.\n");
    EXPECT_EQ(run("decrypt c.enc -o c.txt --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("c.txt")), plain);
}

// Three sources, one passphrase typed on a terminal: one prompt and its repetition, three
// containers with salts of their own, each opening with the passphrase.
TEST_F(CliConventions, ThreeSourcesOnePassphrasePrompt) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) writeAll(at(name), textBytes(3000, name[0]));
    size_t prompts = 0;
    ASSERT_EQ(runAnswering("encrypt a.txt b.txt c.txt --passphrase", "lösenord med å, ä och ö", prompts), 0)
        << errors();
    EXPECT_EQ(prompts, 2u) << "one passphrase and its repetition for the whole run: " << errors();
    std::set<std::vector<char>> headers;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        SCOPED_TRACE(name);
        const std::vector<char> container = readAll(at(std::string(name) + ".encrypted"));
        ASSERT_GT(container.size(), 64u);
        headers.insert(std::vector<char>(container.begin(), container.begin() + 64));
        ASSERT_EQ(run(std::string("decrypt ") + name + ".encrypted -o back.txt --force --passphrase-file pass.txt"), 0)
            << errors();
        EXPECT_EQ(readAll(at("back.txt")), readAll(at(name)));
    }
    EXPECT_EQ(headers.size(), 3u) << "each container has its own salt";
}

TEST_F(CliConventions, OneBadSourceAmongThree) {
    writeAll(at("a.bin"), textBytes(5000, 1));
    writeAll(at("c.bin"), textBytes(5000, 3));
    EXPECT_EQ(run("encrypt a.bin missing.bin c.bin --key-file key.key"), EXIT_READ);
    EXPECT_EQ(errors(), "Fel vid läsning av källfilen \"missing.bin\": filen finns inte.\n");
    EXPECT_TRUE(fs::exists(at("a.bin.encrypted")));
    EXPECT_TRUE(fs::exists(at("c.bin.encrypted")));
    EXPECT_FALSE(fs::exists(at("missing.bin.encrypted")));

    writeAll(at("not-a-container.bin.encrypted"), textBytes(5000, 4));
    EXPECT_EQ(run("verify a.bin.encrypted not-a-container.bin.encrypted c.bin.encrypted --key-file key.key"),
              EXIT_READ);
    EXPECT_EQ(errors(), "Fel vid läsning av källfilen \"not-a-container.bin.encrypted\": innehållet är skadat "
                        "eller ingen krypterad fil.\n");
    EXPECT_EQ(run("verify a.bin.encrypted c.bin.encrypted --key-file key.key"), 0) << errors();
}

TEST_F(CliConventions, OutputFolder) {
    fs::create_directories(at("ut"));
    fs::create_directories(at("tillbaka"));
    writeAll(at("a.bin"), textBytes(5000, 1));
    writeAll(at("b.bin"), textBytes(6000, 2));
    ASSERT_EQ(run("encrypt a.bin b.bin -o ut --key-file key.key"), 0) << errors();
    ASSERT_EQ(run("decrypt ut/a.bin.encrypted ut/b.bin.encrypted -o tillbaka --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("tillbaka/a.bin")), readAll(at("a.bin")));
    EXPECT_EQ(readAll(at("tillbaka/b.bin")), readAll(at("b.bin")));

    EXPECT_EQ(run("encrypt a.bin b.bin -o x.encrypted --key-file key.key"), EXIT_USAGE);
    EXPECT_NE(errors().find("Med flera källfiler måste -o vara en befintlig mapp."), std::string::npos) << errors();
    EXPECT_FALSE(fs::exists(at("x.encrypted")));
}

// Each refused target keeps the file it would have destroyed byte for byte; the inputs of the run
// are refused even with --force.
TEST_F(CliConventions, TargetsThatWouldDestroySomethingAreRefused) {
    const std::vector<char> plain = textBytes(5000, 1);
    writeAll(at("plain.bin"), plain);
    ASSERT_EQ(run("encrypt plain.bin -o c-key.encrypted --key-file key.key"), 0) << errors();
    ASSERT_EQ(run("encrypt plain.bin -o c-code.encrypted --key-code-file code.txt"), 0) << errors();
    ASSERT_EQ(run("encrypt plain.bin -o c-pass.encrypted --passphrase-file pass.txt"), 0) << errors();
    writeAll(at("precious.txt"), textBytes(700, 7));
    fs::create_hard_link(at("plain.bin"), at("alias.bin"));
    fs::create_directories(at("d1"));
    fs::create_directories(at("d2"));
    fs::create_directories(at("ut"));
    writeAll(at("d1/x.txt"), textBytes(100, 1));
    writeAll(at("d2/x.txt"), textBytes(100, 2));
    struct Row {
        const char* name;
        std::string arguments;
        const char* message;
        const char* kept;
    };
    const Row rows[] = {
        {"encrypting onto the key file", "encrypt plain.bin -o key.key --force --key-file key.key",
         "Målfilen \"key.key\" är nyckelfilen; den skrivs aldrig över.\n", "key.key"},
        {"decrypting onto the key code file", "decrypt c-code.encrypted -o code.txt --force --key-code-file code.txt",
         "Målfilen \"code.txt\" är nyckelkodsfilen; den skrivs aldrig över.\n", "code.txt"},
        {"decrypting onto the passphrase file",
         "decrypt c-pass.encrypted -o ./pass.txt --force --passphrase-file pass.txt",
         "Målfilen \"./pass.txt\" är lösenfrasfilen; den skrivs aldrig över.\n", "pass.txt"},
        {"the source itself", "encrypt plain.bin -o ./plain.bin --force --key-file key.key",
         "Fel: Källa och mål kan inte vara samma fil!\n", "plain.bin"},
        {"the source under another name", "encrypt plain.bin -o alias.bin --force --key-file key.key",
         "Fel: Källa och mål kan inte vara samma fil!\n", "plain.bin"},
        {"another source of the run", "decrypt c-key.encrypted c-key.encrypted.encrypted --force --key-file key.key",
         "", "c-key.encrypted"},
        {"an existing file without --force", "encrypt plain.bin -o precious.txt --key-file key.key",
         "Målfilen \"precious.txt\" finns redan; ange --force för att skriva över den.\n", "precious.txt"},
        {"two sources with one target", "encrypt d1/x.txt d2/x.txt -o ut --force --key-file key.key",
         "Målfilen \"ut/x.txt.encrypted\" är målet för en annan källfil i körningen.\n", ""},
    };
    writeAll(at("c-key.encrypted.encrypted"), textBytes(10, 1));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<char> before = row.kept[0] != 0 ? readAll(at(row.kept)) : std::vector<char>();
        EXPECT_EQ(run(row.arguments), EXIT_USAGE) << errors();
        if (row.message[0] != 0) {
            EXPECT_EQ(errors(), row.message);
        }
        if (row.kept[0] != 0) {
            EXPECT_EQ(readAll(at(row.kept)), before);
        }
        EXPECT_FALSE(hasTemporaryFile(dir_));
    }
    // Only the refused file of a run is left alone: the other sources are done.
    EXPECT_TRUE(fs::exists(at("ut/x.txt.encrypted")));

    ASSERT_EQ(run("encrypt plain.bin -o precious.txt --force --key-file key.key"), 0) << errors();
    ASSERT_EQ(run("decrypt precious.txt -o back.bin --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("back.bin")), plain) << "--force replaces an existing target";
}

TEST_F(CliConventions, TooLongKeyTextsAreRefusedNotCut) {
    const std::string longest(65535, 'a');
    writeText(at("longest.txt"), longest + "\n");
    writeText(at("one-more.txt"), longest + "a\n");
    writeText(at("no-line-end.txt"), std::string(3 * 65535 + 10, 'a'));
    writeText(at("long-code.txt"), std::string(readAll(at("code.txt")).data(), 66) + std::string(200000, ' '));
    writeAll(at("plain.bin"), textBytes(5000, 1));
    ASSERT_EQ(run("encrypt plain.bin -o c.encrypted --passphrase-file longest.txt"), 0) << errors();
    ASSERT_EQ(run("decrypt c.encrypted -o back.bin --passphrase-file longest.txt"), 0) << errors();
    EXPECT_EQ(readAll(at("back.bin")), readAll(at("plain.bin")));
    struct Row {
        const char* key;
        const char* message;
    };
    const Row rows[] = {
        {"--passphrase-file one-more.txt", "Lösenfrasen är för lång.\n"},
        {"--passphrase-file no-line-end.txt", "Lösenfrasen är för lång.\n"},
        {"--key-code-file long-code.txt", "Nyckelkoden har ett felaktigt format.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(run(std::string("decrypt c.encrypted -o x ") + row.key), EXIT_USAGE);
        EXPECT_EQ(errors(), row.message);
        EXPECT_FALSE(fs::exists(at("x")));
    }
}

TEST_F(CliConventions, DecryptionToStandardOutput) {
    constexpr size_t CHUNK = size_t(1) << 21;
    std::vector<char> plain = textBytes(3 * CHUNK, 11);
    writeAll(at("plain.bin"), plain);
    ASSERT_EQ(run("encrypt plain.bin --no-compress --key-file key.key"), 0) << errors();
    std::string output;
    ASSERT_EQ(run("decrypt plain.bin.encrypted -o - --key-file key.key", &output), 0) << errors();
    EXPECT_TRUE(output == std::string(plain.begin(), plain.end()));
    EXPECT_FALSE(fs::exists(at("-")));
    const std::string piped = "cd '" + dir_.string() + "' && XDG_DATA_HOME='" + (dir_ / "data").string() + "' '" FERROLYN_CLI
                              "' decrypt plain.bin.encrypted -o - --key-file key.key | cmp -s - plain.bin";
    EXPECT_EQ(std::system(piped.c_str()), 0) << "the plaintext piped into cmp";

    // A damaged middle chunk: the chunk before it is written whole, nothing of it or after it.
    std::vector<char> damaged = readAll(at("plain.bin.encrypted"));
    damaged[damaged.size() / 2] ^= 1;
    writeAll(at("damaged.encrypted"), damaged);
    EXPECT_EQ(run("decrypt damaged.encrypted -o - --key-file key.key", &output), EXIT_READ);
    EXPECT_TRUE(output == std::string(plain.begin(), plain.begin() + CHUNK)) << output.size();
    EXPECT_EQ(errors(),
              "Fel vid läsning av källfilen \"damaged.encrypted\": innehållet är skadat eller ingen krypterad fil.\n");

    EXPECT_EQ(run("encrypt plain.bin -o - --key-file key.key", &output), EXIT_USAGE);
    EXPECT_NE(errors().find("kan inte skrivas till standard ut"), std::string::npos) << errors();
    EXPECT_EQ(output, "");
    EXPECT_EQ(run("decrypt plain.bin.encrypted plain.bin.encrypted -o - --key-file key.key"), EXIT_USAGE);

    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const pid_t pid = start("decrypt plain.bin.encrypted -o - --key-file key.key", slave, true);
    ::close(slave);
    EXPECT_EQ(finish(pid), EXIT_USAGE);
    ::close(master);
    EXPECT_NE(errors().find("Standard ut är en terminal"), std::string::npos) << errors();
}

// Ctrl-C in the second of three files: the first stays done, the second's temporary file is
// removed, the third is never started, and the run ends with the cancel status.
TEST_F(CliConventions, CtrlCInTheSecondOfThreeFiles) {
    writeAll(at("a.bin"), textBytes(1000, 1));
    writeAll(at("b.bin"), textBytes(64 << 20, 2));
    writeAll(at("c.bin"), textBytes(1000, 3));
    const pid_t pid = start("encrypt a.bin b.bin c.bin --compress --cipher serpent --key-file key.key");
    bool seen = false;
    for (int i = 0; i < 60000 && !seen; ++i) {
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("b.bin.encrypted.", 0) == 0 && entry.path().extension() == ".tmp") seen = true;
        }
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(seen) << "the second file's temporary target never appeared: " << errors();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(finish(pid), EXIT_CANCELLED);
    EXPECT_EQ(errors(), "Avbrutet vid \"b.bin\"; ingen mer fil behandlas.\n");
    EXPECT_TRUE(fs::exists(at("a.bin.encrypted")));
    EXPECT_FALSE(fs::exists(at("b.bin.encrypted")));
    EXPECT_FALSE(fs::exists(at("c.bin.encrypted")));
    EXPECT_FALSE(hasTemporaryFile(dir_));
    ASSERT_EQ(run("decrypt a.bin.encrypted -o a.back --key-file key.key"), 0) << errors();
    EXPECT_EQ(readAll(at("a.back")), readAll(at("a.bin")));
}
