// Reading and writing "config.bin".

#include "job/settings.h"

#include "base/byte_fields.h"
#include "platform/blob_file.h"
#include "platform/platform.h"

Settings globalSettings;

void loadSettings(Settings& settings) {
    ByteReader reader;
    if (!readBlobFile(nativePathFromUtf8(SETTINGS_FILE_NAME), reader, SETTINGS_MAX_PAYLOAD_BYTES)) {
        reader.input = SecureBuffer::zeros(2);
    }
    const SecureBuffer& payload = reader.input;
    settings.cipher = payload.size() >= 1 && payload.data()[0] != 0 ? CIPHER_SERPENT : CIPHER_AES256;
    settings.compress = payload.size() >= 2 && payload.data()[1] != 0;
}

bool saveSettings(const Settings& settings) {
    const uint8_t payload[2] = {static_cast<uint8_t>(settings.cipher != CIPHER_AES256 ? 1 : 0),
                                static_cast<uint8_t>(settings.compress ? 1 : 0)};
    return writeBlobFile(nativePathFromUtf8(SETTINGS_FILE_NAME), SecureBuffer(payload, sizeof payload));
}
