// Unfinished files: which files an interrupt removes (recorded and neither renamed nor deleted
// since, open or closed), how recorded paths are told apart, that forgotten slots are used again,
// and the fixed limits of the table.

#include "platform/unfinished_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"

using namespace testsupport;

namespace {

std::vector<std::string> heldPaths(const UnfinishedFiles& table) {
    std::vector<std::string> held;
    for (const UnfinishedFile& slot : table.slots) {
        if (slot.state.load() != UNFINISHED_SLOT_HELD) continue;
        std::string units;
        for (uint32_t i = 0; i < UNFINISHED_PATH_UNITS && slot.path[i] != 0; ++i) {
            units.push_back(static_cast<char>(slot.path[i]));
        }
        held.push_back(units);
    }
    return held;
}

// A native path of ASCII name units, with its terminating zero unit.
NativePath asciiPath(const std::string& name) {
    NativePath path = SecureBuffer::zeros(static_cast<uint32_t>(name.size() + 1) * NATIVE_UNIT_BYTES);
    for (size_t i = 0; i < name.size(); ++i) path.data()[i * NATIVE_UNIT_BYTES] = static_cast<uint8_t>(name[i]);
    return path;
}

}  // namespace

// Files are recorded and forgotten in the order of a row; the interrupt must then remove exactly the
// files still recorded. Paths that begin alike are different files.
TEST(UnfinishedFiles, RemovesExactlyTheFilesStillRecorded) {
    struct Row {
        const char* name;
        std::vector<std::string> tracked;
        std::vector<std::string> untracked;
        std::vector<std::string> trackedAfter;  // recorded once the others are forgotten
        std::vector<std::string> remaining;     // on disk after the removal, sorted
    };
    const Row rows[] = {
        {"forgetting a path that a recorded one begins with", {"a.tmp.long", "a.tmp"}, {"a.tmp"}, {}, {"a.tmp"}},
        {"forgetting a path that begins with a recorded one",
         {"a.tmp", "a.tmp.long"},
         {"a.tmp.long"},
         {},
         {"a.tmp.long"}},
        {"forgetting a path never recorded", {"a.tmp"}, {"b.tmp"}, {}, {"b.tmp"}},
        {"forgotten slots are used again",
         {"1.tmp", "2.tmp", "3.tmp", "4.tmp"},
         {"1.tmp", "2.tmp", "3.tmp", "4.tmp"},
         {"5.tmp", "6.tmp", "7.tmp", "8.tmp"},
         {"1.tmp", "2.tmp", "3.tmp", "4.tmp"}},
        {"a fifth file is not recorded", {"1.tmp", "2.tmp", "3.tmp", "4.tmp", "5.tmp"}, {}, {}, {"5.tmp"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        auto table = std::make_unique<UnfinishedFiles>();
        for (const std::string& name : row.tracked) {
            writeFileBytes(dir / name, name);
            unfinishedTrack(*table, nativePathOf(dir / name), UNFINISHED_NO_HANDLE);
        }
        for (const std::string& name : row.untracked) {
            if (!fs::exists(dir / name)) writeFileBytes(dir / name, name);
            unfinishedUntrack(*table, nativePathOf(dir / name));
        }
        for (const std::string& name : row.trackedAfter) {
            writeFileBytes(dir / name, name);
            unfinishedTrack(*table, nativePathOf(dir / name), UNFINISHED_NO_HANDLE);
        }
        unfinishedRemoveAll(*table);
        EXPECT_EQ(fileNames(dir.path()), row.remaining);
    }
}

// A path of UNFINISHED_PATH_UNITS - 1 units and its terminator fill a slot; one unit more is not
// recorded rather than cut short. Units after a zero unit are not part of the path.
TEST(UnfinishedFiles, PathLengthLimit) {
    const std::string longest(UNFINISHED_PATH_UNITS - 1, 'x');
    auto table = std::make_unique<UnfinishedFiles>();
    unfinishedTrack(*table, asciiPath(longest + "y"), UNFINISHED_NO_HANDLE);
    EXPECT_TRUE(heldPaths(*table).empty());
    unfinishedTrack(*table, asciiPath(longest), UNFINISHED_NO_HANDLE);
    EXPECT_EQ(heldPaths(*table), std::vector<std::string>{longest});
    unfinishedUntrack(*table, asciiPath(longest + "y"));
    EXPECT_EQ(heldPaths(*table), std::vector<std::string>{longest});
    unfinishedUntrack(*table, asciiPath(longest));
    EXPECT_TRUE(heldPaths(*table).empty());

    NativePath embedded = asciiPath("name.tmp?rest");
    for (uint32_t b = 0; b < NATIVE_UNIT_BYTES; ++b) embedded.data()[8 * NATIVE_UNIT_BYTES + b] = 0;
    unfinishedTrack(*table, embedded, UNFINISHED_NO_HANDLE);
    EXPECT_EQ(heldPaths(*table), std::vector<std::string>{"name.tmp"});
    unfinishedUntrack(*table, asciiPath("name.tmp"));
    EXPECT_TRUE(heldPaths(*table).empty());
    for (const NativeUnit unit : table->slots[0].path) ASSERT_EQ(unit, 0) << "a forgotten path is wiped";
}

// A handle that closes is forgotten, so that a later removal goes by the path and never through a
// handle value the system may have given to another file since.
TEST(UnfinishedFiles, ClosingForgetsOnlyThatHandle) {
    auto table = std::make_unique<UnfinishedFiles>();
    unfinishedTrack(*table, asciiPath("one.tmp"), 11);
    unfinishedTrack(*table, asciiPath("two.tmp"), 22);
    unfinishedForgetHandle(*table, 11);
    EXPECT_EQ(table->slots[0].handle.load(), UNFINISHED_NO_HANDLE);
    EXPECT_EQ(table->slots[1].handle.load(), 22);
    unfinishedUntrack(*table, asciiPath("two.tmp"));
    EXPECT_EQ(table->slots[1].handle.load(), UNFINISHED_NO_HANDLE);
}

// Through the platform layer: what an interrupt removes of the files it created, open or closed,
// and what it leaves (renamed or deleted through the layer).
TEST(UnfinishedFiles, InterruptRemovesTheLayersUnfinishedFiles) {
    TempDir dir;
    PlatformFile kept, closed, renamed, deleted, beside;
    NativePath besidePath;
    ASSERT_TRUE(platformCreateNew(nativePathOf(dir / "open.tmp"), kept));
    ASSERT_TRUE(platformCreateNew(nativePathOf(dir / "closed.tmp"), closed));
    ASSERT_TRUE(platformClose(closed));
    ASSERT_TRUE(platformCreateNew(nativePathOf(dir / "renamed.tmp"), renamed));
    ASSERT_TRUE(platformClose(renamed));
    ASSERT_TRUE(platformRenameOver(nativePathOf(dir / "renamed.tmp"), nativePathOf(dir / "final")));
    ASSERT_TRUE(platformCreateNew(nativePathOf(dir / "deleted.tmp"), deleted));
    ASSERT_TRUE(platformClose(deleted));
    ASSERT_TRUE(platformDelete(nativePathOf(dir / "deleted.tmp")));
    ASSERT_TRUE(platformCreateTemporaryBeside(nativePathOf(dir / "target"), PERMISSIONS_DEFAULT, beside, besidePath));
    ASSERT_TRUE(platformClose(beside));
    ASSERT_TRUE(platformRenameNew(besidePath, nativePathOf(dir / "target")));

    platformRemoveUnfinishedFiles();
    // An open file may only be marked for deletion; it is gone once its handle closes.
    ASSERT_TRUE(platformClose(kept));
    EXPECT_EQ(fileNames(dir.path()), (std::vector<std::string>{"final", "target"}));

    // The removal leaves the table as it is; the rest of this process starts without these.
    unfinishedUntrack(unfinishedFiles, nativePathOf(dir / "open.tmp"));
    unfinishedUntrack(unfinishedFiles, nativePathOf(dir / "closed.tmp"));
}
