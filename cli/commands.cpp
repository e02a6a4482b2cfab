// The commands of the ferrolyn tool. Messages are the program's own Swedish texts where one exists.

#include "cli/commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>

#include "base/chunk.h"
#include "base/text.h"
#include "base/version.h"
#include "cli/cp1252.h"
#include "cli/messages.h"
#include "cli/terminal.h"
#include "container/decryption.h"
#include "container/key_code.h"
#include "job/job_entry.h"
#include "job/job_records.h"
#include "job/key_material.h"
#include "job/settings.h"
#include "job/texts.h"
#include "platform/platform.h"
#include "random/generator.h"
#include "random/seeding.h"

namespace {

// Printed by --version after the program's name.
constexpr char VERSION[] = FERROLYN_VERSION;

constexpr char USAGE[] =
    "Användning:\n"
    "  ferrolyn encrypt KÄLLA -o MÅL NYCKEL [--cipher aes|serpent] [--compress | --no-compress]\n"
    "  ferrolyn decrypt KÄLLA -o MÅL NYCKEL\n"
    "  ferrolyn new-key-file SÖKVÄG\n"
    "  ferrolyn new-key-code\n"
    "  ferrolyn new-passphrase\n"
    "  ferrolyn verify BEHÅLLARE NYCKEL\n"
    "  ferrolyn info BEHÅLLARE\n"
    "  ferrolyn --version\n"
    "NYCKEL är en av:\n"
    "  --key-file SÖKVÄG | --key-code-file SÖKVÄG | --passphrase-file SÖKVÄG | --passphrase\n";

// Key code and passphrase files hold their text on the first line; nothing longer is read.
constexpr uint32_t MAX_KEY_TEXT_FILE_BYTES = 65536;

struct Options {
    std::string command;
    // Absolute paths for the work, and the paths as the user wrote them for messages.
    std::string source;
    std::string target;
    std::string shownSource;
    std::string shownTarget;
    std::string shownKeyPath;
    bool hasTarget = false;
    int keyOptions = 0;
    KeyMethod keyMethod = KEY_FILE;
    std::string keyPath;
    bool promptPassphrase = false;
    bool hasCipher = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    int compressOptions = 0;
    bool compress = false;
};

// How often the progress bar is redrawn while a job runs.
constexpr auto PROGRESS_REDRAW_INTERVAL = std::chrono::milliseconds(100);

// The job's progress and cancel flag; Ctrl-C sets the flag from a signal handler, so it lives for
// the whole process.
JobProgress jobProgress;

int usage(const char* problem) {
    if (problem != nullptr) std::fprintf(stderr, "%s\n", problem);
    std::fputs(USAGE, stderr);
    return EXIT_USAGE;
}

int failWith(int status, const char* message) {
    std::fprintf(stderr, "%s\n", message);
    return status;
}

int exitStatusOf(JobResult result) {
    switch (result) {
    case RESULT_READ_ERROR: return EXIT_READ_ERROR;
    case RESULT_WRITE_ERROR: return EXIT_WRITE_ERROR;
    case RESULT_CRYPTO_ERROR: return EXIT_CRYPTO_ERROR;
    case RESULT_WRONG_KEY: return EXIT_WRONG_KEY;
    case RESULT_CANCELLED: return EXIT_CANCELLED;
    }
    return EXIT_READ_ERROR;
}

std::filesystem::path filesystemPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.c_str())));
}

std::string absoluteUtf8(const std::string& utf8) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(filesystemPath(utf8), error);
    if (error) return utf8;
    const std::u8string text = absolute.u8string();
    return std::string(reinterpret_cast<const char*>(text.c_str()), text.size());
}

// Parses the command line into options; returns false with a message for usage errors.
bool parseOptions(int argc, const char* const* args, Options& options, const char*& problem) {
    problem = nullptr;
    if (argc < 2) return false;
    options.command = args[1];
    std::string positional[2];
    int positionals = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = args[++i];
            return true;
        };
        if (arg == "-o") {
            if (!value(options.target)) return problem = "Flaggan -o saknar sökväg.", false;
            options.hasTarget = true;
        } else if (arg == "--key-file" || arg == "--key-code-file" || arg == "--passphrase-file") {
            if (!value(options.keyPath)) return problem = "Nyckelflaggan saknar sökväg.", false;
            options.keyMethod = arg == "--key-file" ? KEY_FILE : arg == "--key-code-file" ? KEY_CODE : PASSPHRASE;
            ++options.keyOptions;
        } else if (arg == "--passphrase") {
            options.keyMethod = PASSPHRASE;
            options.promptPassphrase = true;
            ++options.keyOptions;
        } else if (arg == "--cipher") {
            std::string name;
            if (!value(name)) return problem = "Flaggan --cipher saknar värde.", false;
            if (name == "aes")
                options.cipher = CIPHER_AES256;
            else if (name == "serpent")
                options.cipher = CIPHER_SERPENT;
            else
                return problem = "Okänd krypteringsalgoritm (aes eller serpent).", false;
            options.hasCipher = true;
        } else if (arg == "--compress" || arg == "--no-compress") {
            options.compress = arg == "--compress";
            ++options.compressOptions;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return problem = "Okänd flagga.", false;
        } else {
            if (positionals == 2) return problem = "För många argument.", false;
            positional[positionals++] = arg;
        }
    }
    if (options.keyOptions > 1) return problem = "Ange bara en nyckel.", false;
    if (options.compressOptions > 1) return problem = "Ange --compress eller --no-compress, inte båda.", false;

    const std::string& c = options.command;
    const bool takesKey = c == "encrypt" || c == "decrypt" || c == "verify";
    const bool takesTarget = c == "encrypt" || c == "decrypt";
    const int wanted = (c == "new-key-code" || c == "new-passphrase") ? 0 : 1;
    if (!takesKey && options.keyOptions != 0) return problem = "Kommandot tar ingen nyckel.", false;
    if (takesKey && options.keyOptions != 1) return problem = "Ange en nyckel.", false;
    if (takesTarget != options.hasTarget) {
        return problem = takesTarget ? "Ange målfilen med -o." : "Kommandot tar ingen målfil.", false;
    }
    if (c != "encrypt" && (options.hasCipher || options.compressOptions != 0)) {
        return problem = "Bara encrypt tar --cipher och --compress.", false;
    }
    if (positionals != wanted) return problem = "Fel antal argument.", false;
    options.source = positional[0];
    options.shownSource = options.source;
    options.shownTarget = options.target;
    options.shownKeyPath = options.keyPath;
    // Commands that draw random bytes move into the working directory to keep the seed file there;
    // the user's paths mean what they meant where the tool was started.
    for (std::string* path : {&options.source, &options.target, &options.keyPath}) {
        if (!path->empty()) *path = absoluteUtf8(*path);
    }
    return true;
}

// The first line of a small file, as the bytes it holds. False when it cannot be opened or read
// (a folder opens on POSIX, but does not read).
bool readFirstLine(const std::string& path, SecureBuffer& line) {
    std::FILE* file = openNativeStream(nativePathFromUtf8(path.c_str()), "rb");
    if (file == nullptr) return false;
    SecureBuffer contents = SecureBuffer::zeros(MAX_KEY_TEXT_FILE_BYTES);
    const size_t got = std::fread(contents.data(), 1, contents.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return false;
    contents.resize(static_cast<uint32_t>(got));
    line = firstLine(contents);
    return true;
}

// A passphrase given as UTF-8 (without NUL) as the text of its Windows-1252 bytes.
int passphraseText(const SecureBuffer& utf8, SecureBuffer& text) {
    if (utf8.empty()) return failWith(EXIT_USAGE, TEXT_NO_PASSPHRASE);
    if (!utf8ToCp1252(utf8, text)) return failWith(EXIT_USAGE, TEXT_PASSPHRASE_UNREPRESENTABLE);
    return EXIT_OK;
}

// The key file, key code file or passphrase file could not be read: say which and why.
int keyFileUnreadable(const Options& options) {
    PlatformFailure failure = messageDiagnoseRead(options.keyPath);
    // It opens now, or it is a pipe (which the reader takes but this check does not): then it
    // held less than it should.
    if (failure.cause == CAUSE_NOT_REGULAR_FILE) failure = PlatformFailure();
    const std::string message = messageWithFile(TEXT_KEY_FILE_UNREADABLE, options.shownKeyPath, failure,
                                                FILE_ROLE_SOURCE, "filen är kortare än den anger");
    return failWith(EXIT_READ_ERROR, message.c_str());
}

int readKeyInput(const Options& options, JobKey& key) {
    key.method = options.keyMethod;
    if (options.keyMethod == KEY_FILE) {
        const KeyMaterialStatus status = readKeyFile(nativePathFromUtf8(options.keyPath.c_str()), key.material);
        if (status == KEY_MATERIAL_OK) return EXIT_OK;
        if (status == KEY_FILE_UNREADABLE) return keyFileUnreadable(options);
        const std::string message =
            messageWithFile(keyMaterialMessage(status), options.shownKeyPath, PlatformFailure(), FILE_ROLE_SOURCE);
        return failWith(EXIT_READ_ERROR, message.c_str());
    }
    if (options.keyMethod == KEY_CODE) {
        if (!readFirstLine(options.keyPath, key.material)) return keyFileUnreadable(options);
        if (textLength(key.material) == 0) return failWith(EXIT_USAGE, TEXT_NO_KEY_CODE);
        if (!isKeyCodeWellFormed(key.material)) return failWith(EXIT_USAGE, TEXT_BAD_KEY_CODE);
        return EXIT_OK;
    }
    SecureBuffer utf8;
    if (options.promptPassphrase) {
        SecureBuffer again;
        if (!terminalReadHidden("Lösenfras: ", utf8) || !terminalReadHidden("Upprepa lösenfrasen: ", again)) {
            return failWith(EXIT_USAGE, "Lösenfrasen kan bara anges på en terminal; använd --passphrase-file.");
        }
        if (!utf8.constantTimeEquals(again)) return failWith(EXIT_USAGE, TEXT_PASSPHRASES_DIFFER);
    } else {
        SecureBuffer line;
        if (!readFirstLine(options.keyPath, line)) return keyFileUnreadable(options);
        utf8 = line.slice(textLength(line), 0);
    }
    return passphraseText(utf8, key.material);
}

// Brings the generator to readiness for commands that draw random bytes: the seed file as the
// desktop program keeps it, and where that gives too little, 512 bytes from the operating system.
int prepareGenerator() {
    if (!selectWorkingDirectory()) return failWith(EXIT_WRITE_ERROR, TEXT_WORKING_DIRECTORY_FAILED);
    if (!initRandomGenerator()) return failWith(EXIT_CRYPTO_ERROR, TEXT_RANDOM_INIT_FAILED);
    if (globalRandomGenerator.entropy.load() < ENTROPY_THRESHOLD) {
        SecureBuffer seed = SecureBuffer::zeros(SEED_FILE_BYTES);
        if (!platformSystemRandom(seed.data(), seed.size()) ||
            !addSeed(globalRandomGenerator, seed, static_cast<uint32_t>(platformCalendarSeconds()), true) ||
            !saveSeedFile()) {
            return failWith(EXIT_CRYPTO_ERROR, TEXT_RANDOM_INIT_FAILED);
        }
    }
    return EXIT_OK;
}

void drawProgress(uint32_t done, uint32_t total) {
    constexpr int WIDTH = 40;
    const int filled = total == 0 ? WIDTH : static_cast<int>((static_cast<uint64_t>(done) * WIDTH) / total);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(WIDTH, '-');
    std::fprintf(stderr, "\r[%s] %u / %u", bar.c_str(), done, total);
    std::fflush(stderr);
}

// Runs the job on a worker thread while this thread shows progress and passes Ctrl-C on as a
// cancel request; the pipelines look at it after every chunk. The wait ends the moment the job
// does.
bool runWithProgress(const Options& options, const PipelineOptions& pipeline, const JobKey& key,
                     const NativePath& source, const NativePath& target, JobResult& result) {
    jobProgress.lastFinishedChunk = 0;
    jobProgress.total = 0;
    jobProgress.cancelRequested = false;
    terminalCancelOnInterrupt(&jobProgress.cancelRequested, EXIT_CANCELLED);

    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(filesystemPath(options.source), error);
    const bool showProgress = terminalIsTerminal(stderr) && !error && size > CHUNK_SIZE;

    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
    bool ok = false;
    std::thread worker([&] {
        const bool succeeded = options.command == "verify"
                                   ? runVerify(pipeline, key, source, result)
                                   : runJob(pipeline, options.command == "encrypt", key, source, target, result);
        const std::lock_guard<std::mutex> guard(lock);
        ok = succeeded;
        finished = true;
        ended.notify_one();
    });
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!ended.wait_for(guard, PROGRESS_REDRAW_INTERVAL, [&] { return finished; })) {
            const uint32_t total = jobProgress.total.load();
            if (showProgress && total != 0) drawProgress(jobProgress.lastFinishedChunk.load() + 1, total);
        }
    }
    worker.join();
    if (showProgress) std::fputs("\n", stderr);
    return ok;
}

// Refuses a target that is the source itself or exists as something other than a regular file.
int checkTarget(const Options& options, const NativePath& source, const NativePath& target) {
    if (options.source == options.target || platformSameFile(source, target)) {
        return failWith(EXIT_USAGE, TEXT_SAME_FILE);
    }
    std::error_code error;
    const auto status = std::filesystem::status(filesystemPath(options.target), error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        PlatformFailure failure;
        failure.cause = std::filesystem::is_directory(status) ? CAUSE_IS_DIRECTORY : CAUSE_NOT_REGULAR_FILE;
        const std::string message =
            messageWithFile(TEXT_RESULT_WRITE_ERROR, options.shownTarget, failure, FILE_ROLE_TARGET);
        return failWith(EXIT_WRITE_ERROR, message.c_str());
    }
    return EXIT_OK;
}

// The last recorded failure of the first of these operations that has one.
PlatformFailure firstRecorded(std::initializer_list<PlatformOperation> operations) {
    for (PlatformOperation operation : operations) {
        const PlatformFailure failure = platformLastFailure(operation);
        if (failure.cause != CAUSE_NONE) return failure;
    }
    return PlatformFailure();
}

// The message of a failed job: for read and write errors with the file and, where the platform
// layer saw one, the cause.
std::string jobFailureMessage(const Options& options, JobResult result) {
    const char* message = jobResultMessage(result);
    if (message == nullptr) return std::string();
    if (result == RESULT_READ_ERROR) {
        const bool container = options.command != "encrypt";
        return messageWithFile(
            message, options.shownSource, firstRecorded({PLATFORM_OPEN, PLATFORM_READ}), FILE_ROLE_SOURCE,
            container ? "innehållet är skadat eller ingen krypterad fil" : "filen kunde inte läsas till slutet");
    }
    if (result == RESULT_WRITE_ERROR) {
        return messageWithFile(message, options.shownTarget,
                               firstRecorded({PLATFORM_WRITE, PLATFORM_FLUSH, PLATFORM_CLOSE, PLATFORM_RENAME,
                                              PLATFORM_FLUSH_FOLDER, PLATFORM_CREATE}),
                               FILE_ROLE_TARGET);
    }
    return message;
}

int runCryptoCommand(const Options& options) {
    JobKey key;
    int status = readKeyInput(options, key);
    if (status != EXIT_OK) return status;
    const NativePath source = nativePathFromUtf8(options.source.c_str());
    const NativePath target = nativePathFromUtf8(options.target.c_str());
    if (options.command != "verify" && (status = checkTarget(options, source, target)) != EXIT_OK) return status;

    PipelineOptions pipeline;
    pipeline.generator = &globalRandomGenerator;
    pipeline.progress = &jobProgress;
    if (options.command == "encrypt") {
        if ((status = prepareGenerator()) != EXIT_OK) return status;
        Settings settings;
        loadSettings(settings);
        pipeline.cipher = options.hasCipher ? options.cipher : settings.cipher;
        pipeline.compress = options.compressOptions != 0 ? options.compress : settings.compress;
    }
    JobResult result = RESULT_READ_ERROR;
    platformClearFailures();
    const bool ok = runWithProgress(options, pipeline, key, source, target, result);
    if (options.command == "encrypt") randomExitSave();
    if (ok) return EXIT_OK;
    const std::string message = jobFailureMessage(options, result);
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    return exitStatusOf(result);
}

int runNewKeyFile(const Options& options) {
    std::error_code error;
    if (std::filesystem::exists(filesystemPath(options.source), error) || error) {
        return failWith(EXIT_WRITE_ERROR, "Filen finns redan; en nyckelfil skrivs aldrig över.");
    }
    int status = prepareGenerator();
    if (status != EXIT_OK) return status;
    SecureBuffer keyId;
    KeyMaterialStatus written = GENERATOR_FAILED;
    if (generate(globalRandomGenerator, keyId, KEY_ID_BYTES, CIPHER_AES256)) {
        written = createKeyFile(globalRandomGenerator, nativePathFromUtf8(options.source.c_str()), keyId);
    }
    randomExitSave();
    if (written == KEY_MATERIAL_OK) return EXIT_OK;
    return failWith(written == KEY_FILE_NOT_WRITTEN ? EXIT_WRITE_ERROR : EXIT_CRYPTO_ERROR,
                    keyMaterialMessage(written));
}

int runNewText(bool keyCode) {
    int status = prepareGenerator();
    if (status != EXIT_OK) return status;
    SecureBuffer text;
    const KeyMaterialStatus made =
        keyCode ? generateKeyCode(globalRandomGenerator, text) : generatePassphrase(globalRandomGenerator, text);
    randomExitSave();
    if (made != KEY_MATERIAL_OK) return failWith(EXIT_CRYPTO_ERROR, keyMaterialMessage(made));
    std::printf("%s\n", textPointer(text));
    return EXIT_OK;
}

int runInfo(const Options& options) {
    ContainerDescription description;
    platformClearFailures();
    if (!describeContainer(nativePathFromUtf8(options.source.c_str()), description)) {
        const std::string message =
            messageWithFile(TEXT_RESULT_READ_ERROR, options.shownSource, firstRecorded({PLATFORM_OPEN, PLATFORM_READ}),
                            FILE_ROLE_SOURCE, "ingen krypterad fil");
        return failWith(EXIT_READ_ERROR, message.c_str());
    }
    const HeaderFields& fields = description.fields;
    std::printf("Krypteringsalgoritm: %s\n",
                fields.cipher == CIPHER_SERPENT ? TEXT_CIPHER_SERPENT : TEXT_CIPHER_AES256);
    std::printf("Komprimering: %s\n", fields.compressed ? "ja" : "nej");
    std::printf("Nyckel: %s\n", fields.keyMode == KEY_MODE_PASSPHRASE ? "lösenfras" : "nyckelfil eller nyckelkod");
    std::printf("Huvudets storlek: %u byte\n", description.headerSize);
    std::printf("Tabellens storlek: %u byte\n", description.tableSize);
    std::printf("Filens storlek: %llu byte\n", static_cast<unsigned long long>(description.fileSize));
    return EXIT_OK;
}

}  // namespace

int cliRun(int argc, const char* const* args) {
    if (argc >= 2 && (std::strcmp(args[1], "--help") == 0 || std::strcmp(args[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return EXIT_OK;
    }
    if (argc == 2 && std::strcmp(args[1], "--version") == 0) {
        std::printf("ferrolyn %s\n", VERSION);
        return EXIT_OK;
    }
    Options options;
    const char* problem = nullptr;
    if (!parseOptions(argc, args, options, problem)) return usage(problem);
    try {
        const std::string& c = options.command;
        if (c == "encrypt" || c == "decrypt" || c == "verify") return runCryptoCommand(options);
        if (c == "new-key-file") return runNewKeyFile(options);
        if (c == "new-key-code") return runNewText(true);
        if (c == "new-passphrase") return runNewText(false);
        if (c == "info") return runInfo(options);
    } catch (...) {
        return failWith(EXIT_READ_ERROR, "Minnet räckte inte till.");
    }
    return usage("Okänt kommando.");
}
