// Blob files: the length bytes the reader accepts or refuses, payloads around the 102400-byte
// piece size in both directions, and what writing leaves on disk.

#include "base/blob.h"

#include <gtest/gtest.h>

#include <string>

#include "support/allocators.h"
#include "support/files.h"
#include "support/hex.h"

using namespace testsupport;

namespace {

// Blob calls take ANSI paths; the tests use bare ASCII names in a temporary current directory.
class BlobFiles : public ::testing::Test {
protected:
    TempDir dir_;
    CurrentDirectoryGuard inDir_{dir_.path()};
};

}  // namespace

TEST_F(BlobFiles, ReadAcceptsAndRefuses) {
    struct Row {
        const char* name;
        const char* fileHex;
        bool ok;
        const char* payloadHex;
    };
    const Row rows[] = {
        {"empty file: empty payload", "", true, ""},
        {"length 0", "00000000", true, ""},
        {"payload", "02000000 aabb", true, "aabb"},
        {"bytes after the payload are ignored", "02000000 aabb ccdd", true, "aabb"},
        {"payload cut short", "03000000 aabb", false, ""},
        {"three length bytes, the high byte missing: 0", "000000", true, ""},
        {"two length bytes, low first: 2, no payload", "0200", false, ""},
        {"one length byte: 1, no payload", "01", false, ""},
        {"2^30: within the limit, but more than the file holds", "00000040", false, ""},
        {"2^30 + 1", "01000040", false, ""},
        {"FFFFFFFF", "ffffffff 00", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFileBytes("blob.bin", fromHex(row.fileHex));
        ByteReader reader;
        reader.input = bufferFromHex("78797a");
        reader.position = 2;
        EXPECT_EQ(readBlobFile("blob.bin", reader), row.ok);
        if (row.ok) {
            EXPECT_EQ(toHex(reader.input), toHex(fromHex(row.payloadHex)));
            EXPECT_EQ(reader.position, 0u);
        } else {
            EXPECT_EQ(toHex(reader.input), "78797a") << "a failed read leaves the reader as it was";
            EXPECT_EQ(reader.position, 2u);
        }
    }
}

// A length over the limit, or over what the file holds, never leads to a buffer of that length.
TEST_F(BlobFiles, ImpossibleLengthIsRefusedBeforeAnyAllocation) {
    for (const char* fileHex : {"01000040", "ffffffff", "00000040", "00001000 aabbcc"}) {
        SCOPED_TRACE(fileHex);
        writeFileBytes("blob.bin", fromHex(fileHex));
        ByteReader reader;
        LargestRequestRecorder recorder;
        EXPECT_FALSE(readBlobFile("blob.bin", reader));
        EXPECT_LT(LargestRequestRecorder::largestRequest(), 65536u);
    }
}

TEST_F(BlobFiles, MissingFileIsRefused) {
    ByteReader reader;
    EXPECT_FALSE(readBlobFile("no-such-file.bin", reader));
    EXPECT_FALSE(readBlobFile(nullptr, reader));
}

TEST_F(BlobFiles, PayloadsAroundThePieceSizeRoundTrip) {
    std::mt19937 engine(7);
    for (uint32_t size : {0u, 1u, BLOB_PIECE_SIZE - 1, BLOB_PIECE_SIZE, BLOB_PIECE_SIZE + 1, 2 * BLOB_PIECE_SIZE,
                          2 * BLOB_PIECE_SIZE + 1}) {
        SCOPED_TRACE(size);
        const Bytes payload = randomBytes(engine, size);
        ASSERT_TRUE(writeBlobFile("blob.bin", bufferOf(payload)));
        const Bytes file = readFileBytes("blob.bin");
        ASSERT_EQ(file.size(), size + 4u);
        uint8_t length[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                             static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
        EXPECT_EQ(toHex(file.data(), 4), toHex(length, 4));
        EXPECT_TRUE(Bytes(file.begin() + 4, file.end()) == payload);

        ByteReader reader;
        ASSERT_TRUE(readBlobFile("blob.bin", reader));
        EXPECT_TRUE(bytesOf(reader.input) == payload);
    }
}

TEST_F(BlobFiles, WritingAnEmptyBufferGivesFourZeroBytes) {
    ASSERT_TRUE(writeBlobFile("blob.bin", SecureBuffer()));
    EXPECT_EQ(toHex(readFileBytes("blob.bin")), "00000000");
}

TEST_F(BlobFiles, WritingReplacesALongerFile) {
    writeFileBytes("blob.bin", Bytes(1000, 0xEE));
    ASSERT_TRUE(writeBlobFile("blob.bin", bufferFromHex("0102")));
    EXPECT_EQ(toHex(readFileBytes("blob.bin")), "020000000102");
}

TEST_F(BlobFiles, WritingIntoAMissingFolderFails) {
    EXPECT_FALSE(writeBlobFile("no such folder/blob.bin", bufferFromHex("01")));
    EXPECT_FALSE(writeBlobFile(nullptr, bufferFromHex("01")));
    EXPECT_EQ(fileNames(fs::current_path()), std::vector<std::string>{});
}
