// Blob files: the length bytes the reader accepts or refuses, payloads around the 102400-byte
// piece size in both directions, reading from pipes, and what writing leaves on disk.

#include "platform/blob_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include "platform/platform.h"
#include "support/allocators.h"
#include "support/files.h"
#include "support/hex.h"

using namespace testsupport;

namespace {

// The tests use bare names in a temporary current directory.
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
        EXPECT_EQ(readBlobFile(nativePathOf("blob.bin"), reader), row.ok);
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
        EXPECT_FALSE(readBlobFile(nativePathOf("blob.bin"), reader));
        EXPECT_LT(LargestRequestRecorder::largestRequest(), 65536u);
    }
}

TEST_F(BlobFiles, MissingFileIsRefused) {
    ByteReader reader;
    EXPECT_FALSE(readBlobFile(nativePathOf("no-such-file.bin"), reader));
    EXPECT_FALSE(readBlobFile(NativePath(), reader));
}

TEST_F(BlobFiles, PayloadsAroundThePieceSizeRoundTrip) {
    std::mt19937 engine(7);
    for (uint32_t size : {0u, 1u, BLOB_PIECE_SIZE - 1, BLOB_PIECE_SIZE, BLOB_PIECE_SIZE + 1, 2 * BLOB_PIECE_SIZE,
                          2 * BLOB_PIECE_SIZE + 1}) {
        SCOPED_TRACE(size);
        const Bytes payload = randomBytes(engine, size);
        ASSERT_TRUE(writeBlobFile(nativePathOf("blob.bin"), bufferOf(payload)));
        const Bytes file = readFileBytes("blob.bin");
        ASSERT_EQ(file.size(), size + 4u);
        uint8_t length[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                             static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
        EXPECT_EQ(toHex(file.data(), 4), toHex(length, 4));
        EXPECT_TRUE(Bytes(file.begin() + 4, file.end()) == payload);

        ByteReader reader;
        ASSERT_TRUE(readBlobFile(nativePathOf("blob.bin"), reader));
        EXPECT_TRUE(bytesOf(reader.input) == payload);
    }
}

TEST_F(BlobFiles, WritingAnEmptyBufferGivesFourZeroBytes) {
    ASSERT_TRUE(writeBlobFile(nativePathOf("blob.bin"), SecureBuffer()));
    EXPECT_EQ(toHex(readFileBytes("blob.bin")), "00000000");
}

TEST_F(BlobFiles, WritingReplacesALongerFile) {
    writeFileBytes("blob.bin", Bytes(1000, 0xEE));
    ASSERT_TRUE(writeBlobFile(nativePathOf("blob.bin"), bufferFromHex("0102")));
    EXPECT_EQ(toHex(readFileBytes("blob.bin")), "020000000102");
}

// Names outside every 8-bit code page, beside a look-alike: each blob goes to and comes from the
// file of exactly its own name.
TEST_F(BlobFiles, NamesBeyondTheAnsiCodePageNameTheirOwnFile) {
    const fs::path names[] = {u8"Łódź.bin", u8"Lódz.bin", u8"κλειδί.bin", u8"钥匙.bin", u8"nyckel 🔑.bin"};
    for (size_t i = 0; i < std::size(names); ++i) {
        const uint8_t payload[] = {static_cast<uint8_t>(0xA0 + i)};
        ASSERT_TRUE(writeBlobFile(nativePathOf(names[i]), SecureBuffer(payload, 1)));
    }
    for (size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(fs::is_regular_file(names[i]));
        ByteReader reader;
        ASSERT_TRUE(readBlobFile(nativePathOf(names[i]), reader));
        ASSERT_EQ(reader.input.size(), 1u);
        EXPECT_EQ(reader.input.data()[0], 0xA0 + i);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), std::ssize(names));
}

TEST_F(BlobFiles, WritingIntoAMissingFolderFails) {
    EXPECT_FALSE(writeBlobFile(nativePathOf("no such folder/blob.bin"), bufferFromHex("01")));
    EXPECT_FALSE(writeBlobFile(NativePath(), bufferFromHex("01")));
    EXPECT_EQ(fileNames(fs::current_path()), std::vector<std::string>{});
}

namespace {

// Fails call number `failing` of one operation (counted from 1), or with `onward` every call from
// it on, and notes whether it did.
struct FailingCall {
    PlatformOperation operation;
    uint32_t failing;
    bool onward = false;
    uint32_t calls = 0;
    bool fired = false;
};

bool failingCallHook(PlatformOperation operation, void* context) {
    FailingCall& plan = *static_cast<FailingCall*>(context);
    if (operation != plan.operation) return false;
    ++plan.calls;
    if (plan.calls < plan.failing || (plan.calls > plan.failing && !plan.onward)) return false;
    plan.fired = true;
    return true;
}

class HookScope {
public:
    HookScope(PlatformFaultHook hook, void* context) { platformSetFaultHook(hook, context); }
    ~HookScope() { platformSetFaultHook(nullptr, nullptr); }
    HookScope(const HookScope&) = delete;
    HookScope& operator=(const HookScope&) = delete;
};

}  // namespace

// A key file chosen over an existing one, the seed or the settings: whichever call of the rewrite
// fails (the creates, each write of its three pieces, the flush, the close, the rename), the old
// file stays byte for byte and nothing else is left in the folder.
TEST_F(BlobFiles, RewriteFailingAtAnyCallLeavesTheOldFile) {
    const Bytes old = {0x47, 0, 0, 0, 'o', 'l', 'd'};
    std::mt19937 engine(5);
    Bytes payload(2 * BLOB_PIECE_SIZE + 9);
    for (uint8_t& byte : payload) byte = static_cast<uint8_t>(engine());
    for (PlatformOperation operation :
         {PLATFORM_CREATE, PLATFORM_WRITE, PLATFORM_FLUSH, PLATFORM_CLOSE, PLATFORM_RENAME}) {
        uint32_t fired = 0;
        for (uint32_t k = 1; k < 200; ++k) {
            SCOPED_TRACE("operation " + std::to_string(operation) + ", call " + std::to_string(k));
            writeFileBytes("key.key", old);
            // A failing create only makes the writer try another temporary name: fail them all.
            FailingCall plan{operation, k, operation == PLATFORM_CREATE};
            bool written = false;
            {
                const HookScope scope(failingCallHook, &plan);
                written = writeBlobFile(nativePathOf("key.key"), bufferOf(payload));
            }
            if (!plan.fired) {
                EXPECT_TRUE(written);
                EXPECT_EQ(readFileBytes("key.key").size(), 4 + payload.size());
                break;
            }
            ++fired;
            EXPECT_FALSE(written);
            EXPECT_TRUE(readFileBytes("key.key") == old) << "the old file was changed";
            EXPECT_EQ(fileNames(fs::current_path()), std::vector<std::string>{"key.key"});
        }
        EXPECT_GE(fired, operation == PLATFORM_WRITE ? 4u : 1u) << "length and three pieces";
    }
}

#if !defined(_WIN32)
// A failing flush of the folder comes after the rename: the call fails, and the file holds the
// whole new blob (never a part of either).
TEST_F(BlobFiles, FailingFolderFlushReportsFailureWithTheNewFileWhole) {
    writeFileBytes("seed.bin", Bytes{1, 0, 0, 0, 9});
    FailingCall plan{PLATFORM_FLUSH_FOLDER, 1};
    bool written = true;
    {
        const HookScope scope(failingCallHook, &plan);
        written = writeBlobFile(nativePathOf("seed.bin"), bufferFromHex("0102"));
    }
    EXPECT_TRUE(plan.fired);
    EXPECT_FALSE(written);
    EXPECT_EQ(toHex(readFileBytes("seed.bin")), "020000000102");
    EXPECT_EQ(fileNames(fs::current_path()), std::vector<std::string>{"seed.bin"});
}
#endif

// A new key file is made only where nothing has its name, and a file that another program
// creates there after any check is never replaced: the test and the creation are one step.
TEST_F(BlobFiles, CreatingNeverReplacesAFileThatAppearsMeanwhile) {
    const Bytes creators = {3, 0, 0, 0, 'a', 'b', 'c'};
    ASSERT_TRUE(createBlobFile(nativePathOf("fresh.key"), bufferFromHex("0102")));
    EXPECT_EQ(toHex(readFileBytes("fresh.key")), "020000000102");
    EXPECT_FALSE(createBlobFile(nativePathOf("fresh.key"), bufferFromHex("0304")));
    EXPECT_EQ(toHex(readFileBytes("fresh.key")), "020000000102");

    // The other creator writes its file just before our rename, after our temporary file exists.
    struct Race {
        Bytes bytes;
        bool done = false;
    } race{creators};
    {
        const HookScope scope(
            [](PlatformOperation operation, void* context) {
                Race& r = *static_cast<Race*>(context);
                if (operation == PLATFORM_RENAME && !r.done) {
                    writeFileBytes("raced.key", r.bytes);
                    r.done = true;
                }
                return false;
            },
            &race);
        EXPECT_FALSE(createBlobFile(nativePathOf("raced.key"), bufferFromHex("0102")));
    }
    EXPECT_TRUE(race.done);
    EXPECT_TRUE(readFileBytes("raced.key") == creators) << "the other creator's file was replaced";
    EXPECT_EQ(fileNames(fs::current_path()), (std::vector<std::string>{"fresh.key", "raced.key"}));
}

// A reader bounded by its kind refuses a larger length before it reads or allocates the payload,
// however large the file: a sparse file of 1 GiB whose length field says 1 GiB.
TEST_F(BlobFiles, BoundedReaderRefusesALargerLengthBeforeReadingIt) {
    writeFileBytes("large.bin", Bytes{0, 0, 0, 0x40});
    fs::resize_file("large.bin", (uint64_t{1} << 30) + 4);
    struct Row {
        uint32_t bound;
        BlobReadResult expected;
    };
    for (const Row& row :
         {Row{67, BLOB_TOO_LARGE}, Row{65536, BLOB_TOO_LARGE}, Row{MAX_BLOB_SIZE - 1, BLOB_TOO_LARGE}}) {
        SCOPED_TRACE(row.bound);
        ByteReader reader;
        LargestRequestRecorder recorder;
        EXPECT_EQ(readBoundedBlobFile(nativePathOf("large.bin"), reader, row.bound), row.expected);
        EXPECT_FALSE(readBlobFile(nativePathOf("large.bin"), reader, row.bound));
        EXPECT_LT(LargestRequestRecorder::largestRequest(), 4096u);
        EXPECT_TRUE(reader.input.empty());
    }
    // At its bound a blob is read.
    writeFileBytes("small.bin", Bytes{3, 0, 0, 0, 7, 8, 9});
    ByteReader reader;
    EXPECT_EQ(readBoundedBlobFile(nativePathOf("small.bin"), reader, 3), BLOB_READ);
    EXPECT_EQ(readBoundedBlobFile(nativePathOf("small.bin"), reader, 2), BLOB_TOO_LARGE);
}

#if !defined(_WIN32)
// Key files given as a pipe (a shell's process substitution, a FIFO): the reader takes what
// arrives, in pieces, and never asks for more memory than has arrived.
namespace {

// Writes bytes into a pipe from another thread while the reader reads "/dev/fd/N".
class PipeSource {
public:
    explicit PipeSource(Bytes bytes) {
        // A reader that gives up closes its end; the writer then sees an error, not a signal.
        ::signal(SIGPIPE, SIG_IGN);
        if (::pipe(fds_) != 0) throw std::runtime_error("no pipe");
        writer_ = std::thread([this, bytes = std::move(bytes)] {
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fds_[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            ::close(fds_[1]);
        });
    }
    ~PipeSource() {
        ::close(fds_[0]);
        writer_.join();
    }
    std::string path() const { return "/dev/fd/" + std::to_string(fds_[0]); }

private:
    int fds_[2] = {-1, -1};
    std::thread writer_;
};

Bytes blobOf(const Bytes& payload, uint32_t declared) {
    Bytes file(4 + payload.size());
    for (size_t i = 0; i < 4; ++i) file[i] = static_cast<uint8_t>(declared >> (8 * i));
    std::copy(payload.begin(), payload.end(), file.begin() + 4);
    return file;
}

}  // namespace

TEST_F(BlobFiles, ReadsFromAPipe) {
    std::mt19937 engine(11);
    for (uint32_t size : {0u, 71u, BLOB_PIECE_SIZE, 3 * BLOB_PIECE_SIZE + 17}) {
        SCOPED_TRACE(size);
        const Bytes payload = randomBytes(engine, size);
        Bytes file = blobOf(payload, size);
        file.push_back(0x99);  // after the payload: ignored
        PipeSource pipe(file);
        ByteReader reader;
        ASSERT_TRUE(readBlobFile(nativePathOf(pipe.path()), reader));
        EXPECT_TRUE(bytesOf(reader.input) == payload);
    }
}

TEST_F(BlobFiles, PipeShorterThanItsLengthIsRefusedWithoutAllocatingTheLength) {
    for (uint32_t declared : {MAX_BLOB_SIZE, 1u << 20, 72u}) {
        SCOPED_TRACE(declared);
        PipeSource pipe(blobOf(Bytes(71, 0x5A), declared));
        ByteReader reader;
        LargestRequestRecorder recorder;
        EXPECT_FALSE(readBlobFile(nativePathOf(pipe.path()), reader));
        EXPECT_LT(LargestRequestRecorder::largestRequest(), 65536u);
        EXPECT_TRUE(reader.input.empty());
    }
}

// Key files, the seed file and the settings are readable by their owner only, like a private
// key; a file made readable to others before is made private when it is written again.
TEST_F(BlobFiles, WrittenFilesAreReadableByTheOwnerOnly) {
    const mode_t previous = ::umask(022);
    ASSERT_TRUE(writeBlobFile(nativePathOf("new.bin"), bufferFromHex("0102")));
    writeFileBytes("old.bin", Bytes(10, 1));
    ASSERT_EQ(::chmod("old.bin", 0644), 0);
    ASSERT_TRUE(writeBlobFile(nativePathOf("old.bin"), bufferFromHex("0102")));
    ::umask(previous);
    for (const char* name : {"new.bin", "old.bin"}) {
        SCOPED_TRACE(name);
        struct stat info;
        ASSERT_EQ(::stat(name, &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(toHex(readFileBytes(name)), "020000000102");
    }
}
#endif
