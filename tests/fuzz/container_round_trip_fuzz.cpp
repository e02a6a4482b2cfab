// libFuzzer target, differential: a container made from fuzzer-chosen plaintext with a chosen key
// method, cipher and compression verifies and decrypts to exactly that plaintext, and nothing but
// the container and the decrypted file is left behind. The first byte chooses the settings; some
// of its values stretch the rest around the 2 MiB chunk boundary.

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/chunk.h"
#include "fuzz_support.h"
#include "support/pipeline_harness.h"

using fuzzsupport::require;

namespace {

std::vector<uint8_t> wholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    require(static_cast<bool>(out), "plaintext could not be written");
}

int entriesIn(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    require(dir != nullptr, "scratch folder vanished");
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") ++count;
    }
    ::closedir(dir);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = fuzzsupport::scratchFolder("trip");
    static std::unique_ptr<RandomGenerator> generator = testsupport::readyGenerator();
    if (size == 0) return 0;

    // Settings byte: bit 0 cipher, bit 1 compression, bits 2-3 key method (3: key file again),
    // bits 4-7 == 15: stretch the plaintext to just around one chunk (without compression, which
    // would cost seconds a run under the sanitizers). Passphrases only with bits 4-7 == 14.
    const uint8_t settings = data[0];
    const CipherAlgorithm cipher = (settings & 1) != 0 ? CIPHER_SERPENT : CIPHER_AES256;
    const bool compress = (settings & 2) != 0;
    const uint32_t high = settings >> 4;
    KeyMethod method = ((settings >> 2) & 3) == 1 ? KEY_CODE : KEY_FILE;
    if (high == 14) method = PASSPHRASE;

    std::vector<uint8_t> plain(data + 1, data + size);
    if (high == 15 && !compress && !plain.empty()) {
        // CHUNK_SIZE - 2 .. CHUNK_SIZE + 1 bytes, repeating the input.
        const size_t length = CHUNK_SIZE - 2 + (plain[0] & 3);
        std::vector<uint8_t> stretched(length);
        for (size_t i = 0; i < length; ++i) stretched[i] = plain[i % plain.size()];
        plain.swap(stretched);
    }

    const std::string source = folder + "/plain.bin";
    const std::string container = folder + "/c.enc";
    const std::string back = folder + "/back.bin";
    writeWhole(source, plain);
    const JobKey key = testsupport::jobKeyFor(method);
    const PipelineOptions options = testsupport::optionsFor(*generator, cipher, compress);
    try {
        JobResult result = RESULT_CANCELLED;
        require(
            encryptJob(options, key, nativePathFromUtf8(source.c_str()), nativePathFromUtf8(container.c_str()), result),
            "encryption failed");
        require(verifyJob(options, key, nativePathFromUtf8(container.c_str()), result), "verification failed");
        require(
            decryptJob(options, key, nativePathFromUtf8(container.c_str()), nativePathFromUtf8(back.c_str()), result),
            "decryption failed");
        require(wholeFile(back) == plain, "decryption gave other bytes");
        require(entriesIn(folder) == 3, "a temporary file was left behind");
    } catch (int) {
        // Out of memory is the integer 0, which a job turns into a failure.
    }
    ::unlink(container.c_str());
    ::unlink(back.c_str());
    return 0;
}
