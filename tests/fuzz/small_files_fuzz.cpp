// libFuzzer target: any bytes as a blob file, a key file, "config.bin" and "rand.bin". The blob
// reader is held to an independent reading of the format; the others must not crash, and the
// settings must be what the payload's first two bytes say.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/blob_file.h"
#include "base/byte_order.h"
#include "fuzz_support.h"
#include "job/key_material.h"
#include "job/settings.h"
#include "platform/platform.h"
#include "random/seeding.h"

using fuzzsupport::require;

namespace {

// The payload a blob file of these bytes holds, by the format alone; false when it holds none.
bool expectedPayload(const uint8_t* data, size_t size, const uint8_t*& payload, uint32_t& length) {
    uint8_t lengthBytes[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 4 && i < size; ++i) lengthBytes[i] = data[i];
    length = load32Le(lengthBytes);
    const size_t held = size > 4 ? size - 4 : 0;
    if (length > MAX_BLOB_SIZE || length > held) return false;
    payload = data + 4;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::MemoryFile file("blob");
    static const bool inFolder = [] {
        // The settings and seed file are read by bare name in the current folder.
        const std::string folder = fuzzsupport::scratchFolder("small");
        require(::chdir(folder.c_str()) == 0, "chdir failed");
        require(::symlink(file.path().c_str(), SETTINGS_FILE_NAME) == 0, "symlink failed");
        require(::symlink(file.path().c_str(), SEED_FILE_NAME) == 0, "symlink failed");
        return true;
    }();
    (void)inFolder;
    file.set(data, size);
    try {
        const uint8_t* payload = nullptr;
        uint32_t length = 0;
        const bool valid = expectedPayload(data, size, payload, length);
        ByteReader reader;
        reader.position = 7;
        const bool read = readBlobFile(nativePathFromUtf8(file.path().c_str()), reader);
        require(read == valid, "the blob reader disagrees with the format");
        if (read) {
            require(reader.position == 0, "position not reset");
            require(reader.input.constantTimeEquals(SecureBuffer(payload, length)), "wrong payload");
        } else {
            require(reader.position == 7 && reader.input.empty(), "a failed read changed the reader");
        }

        SecureBuffer key;
        const KeyMaterialStatus status = readKeyFile(nativePathFromUtf8(file.path().c_str()), key);
        // A length field above a key file's size is refused as a wrong format before the payload is
        // read, so such a file counts as read whether or not its payload is all there.
        const bool keyTooLarge = length <= MAX_BLOB_SIZE && length > KEY_FILE_BYTES - 4;
        require((status == KEY_FILE_UNREADABLE) == (!valid && !keyTooLarge),
                "key file readability differs from the blob's");
        require(!keyTooLarge || status == KEY_FILE_BAD_FORMAT, "an oversized key file was not refused by its size");
        require(status == KEY_MATERIAL_OK || key.empty(), "a refused key file gave a key");

        Settings settings;
        settings.cipher = CIPHER_SERPENT;
        settings.compress = true;
        loadSettings(settings);
        // Settings longer than their bound are refused before they are read: the defaults apply.
        const bool settingsRead = valid && length <= SETTINGS_MAX_PAYLOAD_BYTES;
        const bool serpent = settingsRead && length >= 1 && payload[0] != 0;
        const bool compress = settingsRead && length >= 2 && payload[1] != 0;
        require(settings.cipher == (serpent ? CIPHER_SERPENT : CIPHER_AES256), "wrong cipher setting");
        require(settings.compress == compress, "wrong compression setting");

        (void)loadSeedFile();
    } catch (int) {
        // Out of memory is the integer 0.
    }
    return 0;
}
