// libFuzzer target: any bytes as a container, read with the fixture key file's key and with the
// fixture key code. Verification and decryption must agree: the same result, and a decryption
// that fails leaves nothing in the target folder while one that succeeds leaves only the target.
// Passphrase containers are refused before any derivation, so the slow key stretch never runs.

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "container/decryption.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "support/pipeline_harness.h"

using fuzzsupport::require;

namespace {

// Names in folder other than "." and "..".
int entriesIn(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) fuzzsupport::broken("scratch folder vanished");
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") ++count;
    }
    ::closedir(dir);
    return count;
}

void readWith(const JobKey& key, const NativePath& source, const std::string& folder, RandomGenerator& generator) {
    const std::string target = folder + "/plain.bin";
    const PipelineOptions options = testsupport::optionsFor(generator, CIPHER_AES256, false);
    JobResult verifyResult = RESULT_CANCELLED;
    JobResult decryptResult = RESULT_CANCELLED;
    const bool verified = verifyJob(options, key, source, verifyResult);
    const bool decrypted = decryptJob(options, key, source, nativePathFromUtf8(target.c_str()), decryptResult);
    require(verified == decrypted, "verify and decrypt disagree");
    require(verified || verifyResult == decryptResult, "verify and decrypt fail differently");
    require(verified || verifyResult != RESULT_CANCELLED, "a failure reported as a cancel");
    require(entriesIn(folder) == (decrypted ? 1 : 0), "decryption left the wrong files behind");
    if (decrypted) ::unlink(target.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::MemoryFile container("container");
    static const std::string folder = fuzzsupport::scratchFolder("read");
    static std::unique_ptr<RandomGenerator> generator = testsupport::readyGenerator();
    static const JobKey keyFile = testsupport::jobKeyFor(KEY_FILE);
    static const JobKey keyCode = testsupport::jobKeyFor(KEY_CODE);

    container.set(data, size);
    const NativePath source = nativePathFromUtf8(container.path().c_str());
    try {
        readWith(keyFile, source, folder, *generator);
        readWith(keyCode, source, folder, *generator);
    } catch (int) {
        // Out of memory is the integer 0; the job layer turns it into a failed job.
    }
    return 0;
}
