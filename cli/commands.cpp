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
#include <vector>

#include "base/chunk.h"
#include "base/text.h"
#include "base/version.h"
#include "cli/messages.h"
#include "cli/terminal.h"
#include "container/decryption.h"
#include "container/key_code.h"
#include "crypto/engines.h"
#include "job/job_entry.h"
#include "job/job_records.h"
#include "job/key_material.h"
#include "job/passphrase.h"
#include "job/settings.h"
#include "job/target_names.h"
#include "job/texts.h"
#include "platform/platform.h"
#include "random/generator.h"
#include "random/seeding.h"

namespace {

// Printed by --version after the program's name.
constexpr char VERSION[] = FERROLYN_VERSION;
// --version's second line names the engine each primitive runs on, a portable one by this word.
constexpr char ENGINES_LABEL[] = "Motorer: ";
constexpr char PORTABLE_ENGINE[] = "portabel";

constexpr char USAGE[] =
    "Användning:\n"
    "  ferrolyn encrypt KÄLLA... [-o MÅL] NYCKEL [--force] [--cipher aes|serpent] [--compress | --no-compress]\n"
    "  ferrolyn decrypt KÄLLA... [-o MÅL] NYCKEL [--force]\n"
    "  ferrolyn verify BEHÅLLARE... NYCKEL\n"
    "  ferrolyn new-key-file SÖKVÄG\n"
    "  ferrolyn new-key-code\n"
    "  ferrolyn new-passphrase\n"
    "  ferrolyn info BEHÅLLARE\n"
    "  ferrolyn --version\n"
    "NYCKEL är en av:\n"
    "  --key-file SÖKVÄG | --key-code-file SÖKVÄG | --passphrase-file SÖKVÄG | --passphrase\n"
    "Utan -o skriver encrypt till KÄLLA.encrypted och decrypt från NAMN.encrypted till NAMN,\n"
    "i källans mapp. -o MAPP lägger varje resultat där under samma namn; -o FIL går med en källa.\n"
    "En befintlig målfil skrivs bara över med --force. En källfil, nyckelfil, nyckelkodsfil eller\n"
    "lösenfrasfil skrivs aldrig över.\n"
    "En lösenfras frågas efter en gång för alla källor. En fil som inte går att behandla nämns på\n"
    "en egen rad och körningen fortsätter med resten; slutstatus är den första felande filens.\n"
    "Ctrl-C avbryter filen som behandlas, tar bort dess ofärdiga målfil och avslutar körningen.\n"
    "decrypt KÄLLA -o - skriver klartexten till standard ut, ett block i taget, varje block först\n"
    "när det är kontrollerat. Ett fel mitt i filen gör att det som redan skrivits står kvar och att\n"
    "statusen inte är 0.\n";

// Key code and passphrase files hold their text on the first line. That line may be as long as
// the longest passphrase in UTF-8 (three bytes for every Windows-1252 character) and its line
// end; a file whose first line goes on beyond this is refused, never cut.
constexpr uint32_t MAX_KEY_TEXT_FILE_BYTES = 3 * MAX_PASSPHRASE_BYTES + 2;

// The -o value that names the standard output.
constexpr char STANDARD_OUTPUT[] = "-";

struct Options {
    std::string command;
    // The sources as the user wrote them, for messages, and absolute for the work: commands that
    // draw random bytes move into the working directory to keep the seed file there.
    std::vector<std::string> shownSources;
    std::vector<std::string> sources;
    std::string output;  // -o as given; absolute in outputPath
    std::string outputPath;
    bool hasOutput = false;
    bool force = false;
    int keyOptions = 0;
    KeyMethod keyMethod = KEY_FILE;
    std::string keyPath;
    std::string shownKeyPath;
    bool promptPassphrase = false;
    bool hasCipher = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    int compressOptions = 0;
    bool compress = false;
};

// One source of a run and where its result goes.
struct FileJob {
    std::string source;  // absolute
    std::string shownSource;
    std::string target;  // absolute; empty for verify and the standard output
    std::string shownTarget;
    bool toStandardOutput = false;
    int status = -1;  // the file's exit status once known; -1 while it is still to run
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

int failWith(int status, const std::string& message) { return failWith(status, message.c_str()); }

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

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.c_str()), text.size());
}

// The absolute, lexically normal form of a path: two spellings of one name compare equal.
std::string absoluteUtf8(const std::string& utf8) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(filesystemPath(utf8), error);
    if (error) return utf8;
    return utf8Of(absolute.lexically_normal());
}

bool isFolder(const std::string& utf8) {
    std::error_code error;
    return std::filesystem::is_directory(filesystemPath(utf8), error);
}

// Parses the command line into options; returns false with a message for usage errors.
bool parseOptions(int argc, const char* const* args, Options& options, const char*& problem) {
    problem = nullptr;
    if (argc < 2) return false;
    options.command = args[1];
    bool onlyNames = false;  // after "--" every argument is a name
    for (int i = 2; i < argc; ++i) {
        const std::string arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = args[++i];
            return true;
        };
        if (onlyNames || arg == "-" || arg.empty() || arg[0] != '-') {
            options.shownSources.push_back(arg);
        } else if (arg == "--") {
            onlyNames = true;
        } else if (arg == "-o") {
            if (options.hasOutput) return problem = "Ange -o bara en gång.", false;
            if (!value(options.output)) return problem = "Flaggan -o saknar sökväg.", false;
            options.hasOutput = true;
        } else if (arg == "-f" || arg == "--force") {
            options.force = true;
        } else if (arg == "--key-file" || arg == "--key-code-file" || arg == "--passphrase-file") {
            if (!value(options.shownKeyPath)) return problem = "Nyckelflaggan saknar sökväg.", false;
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
        } else {
            return problem = "Okänd flagga.", false;
        }
    }
    if (options.keyOptions > 1) return problem = "Ange bara en nyckel.", false;
    if (options.compressOptions > 1) return problem = "Ange --compress eller --no-compress, inte båda.", false;

    const std::string& c = options.command;
    const bool takesKey = c == "encrypt" || c == "decrypt" || c == "verify";
    const bool takesTarget = c == "encrypt" || c == "decrypt";
    const size_t count = options.shownSources.size();
    if (!takesKey && options.keyOptions != 0) return problem = "Kommandot tar ingen nyckel.", false;
    if (takesKey && options.keyOptions != 1) return problem = "Ange en nyckel.", false;
    if (!takesTarget && options.hasOutput) return problem = "Kommandot tar ingen målfil.", false;
    if (!takesTarget && options.force) return problem = "Bara encrypt och decrypt tar --force.", false;
    if (c != "encrypt" && (options.hasCipher || options.compressOptions != 0)) {
        return problem = "Bara encrypt tar --cipher och --compress.", false;
    }
    const bool takesMany = takesKey;
    const size_t wanted = (c == "new-key-code" || c == "new-passphrase") ? 0 : 1;
    if (takesMany ? count == 0 : count != wanted) return problem = "Fel antal argument.", false;
    if (options.hasOutput && options.output == STANDARD_OUTPUT) {
        if (c == "encrypt") {
            return problem = "En krypterad fil kan inte skrivas till standard ut: tabellen i dess början blir "
                             "klar först sist. Ange en målfil med -o.",
                   false;
        }
        if (count != 1) return problem = "Bara en källfil kan dekrypteras till standard ut.", false;
    } else if (options.hasOutput && count > 1 && !isFolder(options.output)) {
        return problem = "Med flera källfiler måste -o vara en befintlig mapp.", false;
    }

    for (const std::string& shown : options.shownSources) options.sources.push_back(absoluteUtf8(shown));
    if (options.hasOutput && options.output != STANDARD_OUTPUT) options.outputPath = absoluteUtf8(options.output);
    if (!options.shownKeyPath.empty()) options.keyPath = absoluteUtf8(options.shownKeyPath);
    return true;
}

// The first line of a small file, as the bytes it holds, read into wiped memory only. False when
// it cannot be opened or read (a folder opens on POSIX, but does not read); tooLong when the
// line goes on beyond MAX_KEY_TEXT_FILE_BYTES.
bool readFirstLine(const std::string& path, SecureBuffer& line, bool& tooLong) {
    tooLong = false;
    PlatformFile file;
    if (!platformOpenReadStream(nativePathFromUtf8(path.c_str()), file)) return false;
    // One byte more than a line may hold tells a line that is too long from one that fits.
    SecureBuffer contents = SecureBuffer::zeros(MAX_KEY_TEXT_FILE_BYTES + 1);
    uint32_t got = 0;
    const bool read = platformRead(file, contents.data(), contents.size(), got);
    (void)platformClose(file);
    if (!read) return false;
    contents.resize(got);
    line = firstLine(contents);
    tooLong = textLength(line) > MAX_KEY_TEXT_FILE_BYTES - 2 || got > MAX_KEY_TEXT_FILE_BYTES;
    if (tooLong) line.wipe();
    return true;
}

// The key file, key code file or passphrase file could not be read: say which and why.
int keyFileUnreadable(const Options& options) {
    PlatformFailure failure = messageDiagnoseRead(options.keyPath);
    // It opens now, or it is a pipe (which the reader takes but this check does not): then it
    // held less than it should.
    if (failure.cause == CAUSE_NOT_REGULAR_FILE) failure = PlatformFailure();
    const std::string message = messageWithFile(TEXT_KEY_FILE_UNREADABLE, options.shownKeyPath, failure,
                                                FILE_ROLE_SOURCE, "filen är kortare än den anger");
    return failWith(EXIT_READ_ERROR, message);
}

int passphraseStatus(PassphraseStatus status) {
    return status == PASSPHRASE_OK ? EXIT_OK : failWith(EXIT_USAGE, passphraseMessage(status));
}

int readKeyInput(const Options& options, JobKey& key) {
    key.method = options.keyMethod;
    if (options.keyMethod == KEY_FILE) {
        const KeyMaterialStatus status = readKeyFile(nativePathFromUtf8(options.keyPath.c_str()), key.material);
        if (status == KEY_MATERIAL_OK) return EXIT_OK;
        if (status == KEY_FILE_UNREADABLE) return keyFileUnreadable(options);
        const std::string message =
            messageWithFile(keyMaterialMessage(status), options.shownKeyPath, PlatformFailure(), FILE_ROLE_SOURCE);
        return failWith(EXIT_READ_ERROR, message);
    }
    bool tooLong = false;
    if (options.keyMethod == KEY_CODE) {
        if (!readFirstLine(options.keyPath, key.material, tooLong)) return keyFileUnreadable(options);
        if (tooLong) return failWith(EXIT_USAGE, TEXT_BAD_KEY_CODE);
        if (textLength(key.material) == 0) return failWith(EXIT_USAGE, TEXT_NO_KEY_CODE);
        if (!isKeyCodeWellFormed(key.material)) return failWith(EXIT_USAGE, TEXT_BAD_KEY_CODE);
        return EXIT_OK;
    }
    SecureBuffer utf8;
    if (options.promptPassphrase) {
        SecureBuffer again;
        TerminalLine first = terminalReadHidden("Lösenfras: ", MAX_KEY_TEXT_FILE_BYTES, utf8);
        if (first == TERMINAL_LINE_READ) first = terminalReadHidden("Upprepa lösenfrasen: ", MAX_KEY_TEXT_FILE_BYTES, again);
        if (first == TERMINAL_LINE_TOO_LONG) return passphraseStatus(PASSPHRASE_TOO_LONG);
        if (first != TERMINAL_LINE_READ) {
            return failWith(EXIT_USAGE, "Lösenfrasen kan bara anges på en terminal; använd --passphrase-file.");
        }
        if (!utf8.constantTimeEquals(again)) return failWith(EXIT_USAGE, TEXT_PASSPHRASES_DIFFER);
    } else {
        SecureBuffer line;
        if (!readFirstLine(options.keyPath, line, tooLong)) return keyFileUnreadable(options);
        if (tooLong) return passphraseStatus(PASSPHRASE_TOO_LONG);
        utf8 = line.slice(textLength(line), 0);
    }
    return passphraseStatus(passphraseFromUtf8(utf8, key.material));
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

// The progress line of a file: its number among all when there are several, the bar, and its
// name.
void drawProgress(uint32_t done, uint32_t total, size_t number, size_t files, const std::string& shownName) {
    constexpr int WIDTH = 30;
    const int filled = total == 0 ? WIDTH : static_cast<int>((static_cast<uint64_t>(done) * WIDTH) / total);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(WIDTH, '-');
    std::string counter;
    if (files > 1) counter = "(" + std::to_string(number) + "/" + std::to_string(files) + ") ";
    std::fprintf(stderr, "\r%s[%s] %u / %u %s", counter.c_str(), bar.c_str(), done, total,
                 messageShownPath(shownName).c_str());
    std::fflush(stderr);
}

// Runs one file's job on a worker thread while this thread shows progress; Ctrl-C reaches the
// pipelines through the cancel flag, which they look at after every chunk. The wait ends the
// moment the job does.
bool runWithProgress(const Options& options, const PipelineOptions& pipeline, const JobKey& key, const FileJob& job,
                     size_t number, size_t files, JobResult& result) {
    jobProgress.lastFinishedChunk = 0;
    jobProgress.total = 0;
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(filesystemPath(job.source), error);
    const bool showProgress = terminalIsTerminal(stderr) && !error && (files > 1 || size > CHUNK_SIZE);

    const NativePath source = nativePathFromUtf8(job.source.c_str());
    const NativePath target = nativePathFromUtf8(job.target.c_str());
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
    bool ok = false;
    std::thread worker([&] {
        bool succeeded = false;
        if (options.command == "verify")
            succeeded = runVerify(pipeline, key, source, result);
        else if (job.toStandardOutput)
            succeeded = runDecryptToStandardOutput(pipeline, key, source, result);
        else
            succeeded = runJob(pipeline, options.command == "encrypt", key, source, target, result);
        const std::lock_guard<std::mutex> guard(lock);
        ok = succeeded;
        finished = true;
        ended.notify_one();
    });
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!ended.wait_for(guard, PROGRESS_REDRAW_INTERVAL, [&] { return finished; })) {
            const uint32_t total = jobProgress.total.load();
            if (showProgress) drawProgress(total == 0 ? 0 : jobProgress.lastFinishedChunk.load() + 1, total, number, files, job.shownSource);
        }
    }
    worker.join();
    if (showProgress) {
        const uint32_t total = jobProgress.total.load();
        if (ok) drawProgress(total, total, number, files, job.shownSource);
        std::fputs("\n", stderr);
    }
    return ok;
}

// Whether two absolute paths name one file: the same existing file, or the same name.
bool sameFile(const std::string& a, const std::string& b) {
    return a == b || platformSameFile(nativePathFromUtf8(a.c_str()), nativePathFromUtf8(b.c_str()));
}

// The target of a file when the user named none, or a folder: the default name, in that folder or
// beside the source. False, with the refusal reported, when decrypting a name without the
// extension.
bool planTarget(const Options& options, FileJob& job) {
    const bool encrypt = options.command == "encrypt";
    const std::filesystem::path source = filesystemPath(job.source);
    NativePath name;
    if (!defaultTargetName(nativePathFromUtf8(utf8Of(source.filename()).c_str()), encrypt, name)) {
        job.status = failWith(EXIT_USAGE, "Filnamnet \"" + messageShownPath(job.shownSource) +
                                              "\" slutar inte på \".encrypted\"; ange målfilen med -o.");
        return false;
    }
    const std::string targetName = utf8FromNativePath(name);
    if (options.hasOutput) {
        job.target = utf8Of(filesystemPath(options.outputPath) / filesystemPath(targetName));
        job.shownTarget = utf8Of(filesystemPath(options.output) / filesystemPath(targetName));
    } else {
        job.target = utf8Of(source.parent_path() / filesystemPath(targetName));
        job.shownTarget = utf8Of(filesystemPath(job.shownSource).parent_path() / filesystemPath(targetName));
    }
    return true;
}

// Refuses a target that is one of the run's inputs or another file's target (whatever --force
// says), that exists as something other than a regular file, or that exists at all without
// --force. Reports the refusal; false then.
bool checkTarget(const Options& options, const std::vector<FileJob>& jobs, FileJob& job) {
    if (sameFile(job.source, job.target)) return job.status = failWith(EXIT_USAGE, TEXT_SAME_FILE), false;
    const std::string shown = "Målfilen \"" + messageShownPath(job.shownTarget) + "\" ";
    const char* const KEY_ROLES[] = {"nyckelfilen", "nyckelkodsfilen", "lösenfrasfilen"};
    if (!options.keyPath.empty() && sameFile(options.keyPath, job.target)) {
        const char* role = KEY_ROLES[options.keyMethod == KEY_FILE ? 0 : options.keyMethod == KEY_CODE ? 1 : 2];
        job.status = failWith(EXIT_USAGE, shown + "är " + role + "; den skrivs aldrig över.");
        return false;
    }
    for (const FileJob& other : jobs) {
        if (&other == &job) continue;
        if (sameFile(other.source, job.target)) {
            job.status = failWith(EXIT_USAGE, shown + "är en annan källfil i körningen; den skrivs aldrig över.");
            return false;
        }
        if (&other < &job && other.target == job.target) {
            job.status = failWith(EXIT_USAGE, shown + "är målet för en annan källfil i körningen.");
            return false;
        }
    }
    std::error_code error;
    const auto status = std::filesystem::symlink_status(filesystemPath(job.target), error);
    if (!std::filesystem::exists(status)) return true;
    const auto followed = std::filesystem::status(filesystemPath(job.target), error);
    if (!std::filesystem::is_regular_file(followed)) {
        PlatformFailure failure;
        failure.cause = std::filesystem::is_directory(followed) ? CAUSE_IS_DIRECTORY : CAUSE_NOT_REGULAR_FILE;
        job.status = failWith(EXIT_WRITE_ERROR, messageWithFile(TEXT_RESULT_WRITE_ERROR, job.shownTarget, failure,
                                                                 FILE_ROLE_TARGET));
        return false;
    }
    if (!options.force) {
        job.status = failWith(EXIT_USAGE, shown + "finns redan; ange --force för att skriva över den.");
        return false;
    }
    return true;
}

// The run's files with their targets, each checked before any work starts; a refused file has its
// status set and its message printed.
std::vector<FileJob> planFiles(const Options& options) {
    std::vector<FileJob> jobs(options.sources.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].source = options.sources[i];
        jobs[i].shownSource = options.shownSources[i];
    }
    if (options.command == "verify") return jobs;
    for (FileJob& job : jobs) {
        if (options.hasOutput && options.output == STANDARD_OUTPUT) {
            job.toStandardOutput = true;
        } else if (options.hasOutput && !isFolder(options.outputPath)) {
            job.target = options.outputPath;
            job.shownTarget = options.output;
        } else {
            (void)planTarget(options, job);
        }
    }
    for (FileJob& job : jobs) {
        if (job.status < 0 && !job.toStandardOutput) (void)checkTarget(options, jobs, job);
    }
    return jobs;
}

// The last recorded failure of the first of these operations that has one.
PlatformFailure firstRecorded(std::initializer_list<PlatformOperation> operations) {
    for (PlatformOperation operation : operations) {
        const PlatformFailure failure = platformLastFailure(operation);
        if (failure.cause != CAUSE_NONE) return failure;
    }
    return PlatformFailure();
}

// The message of a failed job, naming the file: for read and write errors with the cause where
// the platform layer saw one.
std::string jobFailureMessage(const Options& options, const FileJob& job, JobResult result) {
    if (result == RESULT_CANCELLED) {
        return "Avbrutet vid \"" + messageShownPath(job.shownSource) + "\"; ingen mer fil behandlas.";
    }
    const char* message = jobResultMessage(result);
    if (result == RESULT_READ_ERROR) {
        const bool container = options.command != "encrypt";
        return messageWithFile(
            message, job.shownSource, firstRecorded({PLATFORM_OPEN, PLATFORM_READ}), FILE_ROLE_SOURCE,
            container ? "innehållet är skadat eller ingen krypterad fil" : "filen kunde inte läsas till slutet");
    }
    if (result == RESULT_WRITE_ERROR) {
        return messageWithFile(message, job.toStandardOutput ? std::string("standard ut") : job.shownTarget,
                               firstRecorded({PLATFORM_WRITE, PLATFORM_FLUSH, PLATFORM_CLOSE, PLATFORM_RENAME,
                                              PLATFORM_FLUSH_FOLDER, PLATFORM_CREATE}),
                               FILE_ROLE_TARGET);
    }
    return messageWithFile(message, job.shownSource, PlatformFailure(), FILE_ROLE_SOURCE);
}

int runCryptoCommand(const Options& options) {
    if (options.hasOutput && options.output == STANDARD_OUTPUT && terminalIsTerminal(stdout)) {
        return failWith(EXIT_USAGE, "Standard ut är en terminal; den dekrypterade filen skrivs inte dit. "
                                    "Skicka den till en fil eller ett program.");
    }
    std::vector<FileJob> jobs = planFiles(options);
    int firstFailure = EXIT_OK;
    auto noteFailure = [&](int status) {
        if (firstFailure == EXIT_OK) firstFailure = status;
    };
    size_t runnable = 0;
    for (const FileJob& job : jobs) {
        if (job.status >= 0) noteFailure(job.status);
        else ++runnable;
    }
    if (runnable == 0) return firstFailure;

    JobKey key;
    int status = readKeyInput(options, key);
    if (status != EXIT_OK) return firstFailure != EXIT_OK ? firstFailure : status;

    PipelineOptions pipeline;
    pipeline.generator = &globalRandomGenerator;
    pipeline.progress = &jobProgress;
    if (options.command == "encrypt") {
        if ((status = prepareGenerator()) != EXIT_OK) return firstFailure != EXIT_OK ? firstFailure : status;
        Settings settings;
        loadSettings(settings);
        pipeline.cipher = options.hasCipher ? options.cipher : settings.cipher;
        pipeline.compress = options.compressOptions != 0 ? options.compress : settings.compress;
    }
    // One Ctrl-C cancels the file in progress and ends the run; a second ends the process at once.
    jobProgress.cancelRequested = false;
    terminalCancelOnInterrupt(&jobProgress.cancelRequested, EXIT_CANCELLED);
    firstFailure = EXIT_OK;
    for (size_t i = 0; i < jobs.size(); ++i) {
        FileJob& job = jobs[i];
        if (job.status >= 0) {
            noteFailure(job.status);
            continue;
        }
        JobResult result = RESULT_READ_ERROR;
        platformClearFailures();
        const bool ok = !jobProgress.cancelRequested.load() &&
                        runWithProgress(options, pipeline, key, job, i + 1, jobs.size(), result);
        if (!ok && jobProgress.cancelRequested.load()) result = RESULT_CANCELLED;
        job.status = ok ? EXIT_OK : exitStatusOf(result);
        if (ok) continue;
        noteFailure(job.status);
        std::fprintf(stderr, "%s\n", jobFailureMessage(options, job, result).c_str());
        if (result == RESULT_CANCELLED) break;
    }
    if (options.command == "encrypt") randomExitSave();
    return firstFailure;
}

int runNewKeyFile(const Options& options) {
    std::error_code error;
    if (std::filesystem::exists(filesystemPath(options.sources[0]), error) || error) {
        return failWith(EXIT_WRITE_ERROR, "Filen finns redan; en nyckelfil skrivs aldrig över.");
    }
    int status = prepareGenerator();
    if (status != EXIT_OK) return status;
    SecureBuffer keyId;
    KeyMaterialStatus written = GENERATOR_FAILED;
    if (generate(globalRandomGenerator, keyId, KEY_ID_BYTES, CIPHER_AES256)) {
        written = createKeyFile(globalRandomGenerator, nativePathFromUtf8(options.sources[0].c_str()), keyId);
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
    if (!describeContainer(nativePathFromUtf8(options.sources[0].c_str()), description)) {
        const std::string message =
            messageWithFile(TEXT_RESULT_READ_ERROR, options.shownSources[0], firstRecorded({PLATFORM_OPEN, PLATFORM_READ}),
                            FILE_ROLE_SOURCE, "ingen krypterad fil");
        return failWith(EXIT_READ_ERROR, message);
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
        std::printf("%s%s\n", ENGINES_LABEL, enginesText(enginesInUse(), PORTABLE_ENGINE).c_str());
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
