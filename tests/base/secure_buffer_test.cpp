// SecureBuffer: exact sizes, zero fill, wiping before release, bounds and overflow, allocation
// retries, constant-time comparison, memory for overwriting.

#include "base/secure_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/hex.h"

using testsupport::bufferOf;
using testsupport::toHex;

namespace {

// Test allocator: counts calls, can refuse a number of requests, and checks that every byte
// handed back is zero.
struct AllocatorProbe {
    int refusalsLeft = 0;
    int obtainCalls = 0;
    int releases = 0;
    int dirtyReleases = 0;
    size_t lastReleasedBytes = 0;
};
AllocatorProbe probe;

void* probeObtain(size_t bytes) {
    ++probe.obtainCalls;
    if (probe.refusalsLeft > 0) {
        --probe.refusalsLeft;
        return nullptr;
    }
    void* memory = std::malloc(bytes);
    // Fill with garbage so that a missing zero fill shows.
    std::memset(memory, 0xA5, bytes);
    return memory;
}

void probeRelease(void* memory, size_t bytes) {
    ++probe.releases;
    probe.lastReleasedBytes = bytes;
    const uint8_t* p = static_cast<const uint8_t*>(memory);
    for (size_t i = 0; i < bytes; ++i) {
        if (p[i] != 0) {
            ++probe.dirtyReleases;
            break;
        }
    }
    std::free(memory);
}

class SecureBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe = AllocatorProbe();
        previous_ = setSecureBufferAllocator({probeObtain, probeRelease});
    }
    void TearDown() override {
        setSecureBufferAllocator(previous_);
        EXPECT_EQ(probe.dirtyReleases, 0) << "memory went back to the allocator holding data";
    }

private:
    SecureBufferAllocator previous_{};
};

std::string hexOf(const SecureBuffer& b) { return toHex(b); }

}  // namespace

TEST_F(SecureBufferTest, EmptyBufferHasNullDataAndZeroSize) {
    SecureBuffer b;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.data(), nullptr);
    b.allocate(0);
    EXPECT_EQ(b.data(), nullptr);
    b.assign(nullptr, 0);
    EXPECT_EQ(b.data(), nullptr);
}

TEST_F(SecureBufferTest, OperationsGiveExactSizesAndContents) {
    struct Row {
        const char* name;
        std::function<void(SecureBuffer&)> operation;
        const char* expectedHex;
    };
    const Row rows[] = {
        {"allocate zero-fills", [](SecureBuffer& b) { b.allocate(3); }, "000000"},
        {"allocate replaces",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             b.allocate(2);
         },
         "0000"},
        {"assign raw", [](SecureBuffer& b) { b.assign(reinterpret_cast<const uint8_t*>("xy"), 2); }, "7879"},
        {"resize grows with zeros",
         [](SecureBuffer& b) {
             b.assign(bufferOf("ab"));
             b.resize(4);
         },
         "61620000"},
        {"resize shrinks",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abcd"));
             b.resize(1);
         },
         "61"},
        {"resize to zero empties",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abcd"));
             b.resize(0);
         },
         ""},
        {"append to empty", [](SecureBuffer& b) { b.append(bufferOf("ab")); }, "6162"},
        {"append",
         [](SecureBuffer& b) {
             b.assign(bufferOf("a"));
             b.append(bufferOf("bc"));
         },
         "616263"},
        {"append nothing",
         [](SecureBuffer& b) {
             b.assign(bufferOf("a"));
             b.append(nullptr, 0);
         },
         "61"},
        {"append own bytes",
         [](SecureBuffer& b) {
             b.assign(bufferOf("ab"));
             b.append(b.data(), 2);
         },
         "61626162"},
        {"appendZeros",
         [](SecureBuffer& b) {
             b.assign(bufferOf("a"));
             b.appendZeros(2);
         },
         "610000"},
        {"prepend",
         [](SecureBuffer& b) {
             b.assign(bufferOf("c"));
             b.prepend(reinterpret_cast<const uint8_t*>("ab"), 2);
         },
         "616263"},
        {"prepend to empty", [](SecureBuffer& b) { b.prepend(reinterpret_cast<const uint8_t*>("ab"), 2); }, "6162"},
        {"prependZeros",
         [](SecureBuffer& b) {
             b.assign(bufferOf("a"));
             b.prependZeros(3);
         },
         "00000061"},
        {"eraseFront part",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             EXPECT_TRUE(b.eraseFront(1));
         },
         "6263"},
        {"eraseFront all",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             EXPECT_TRUE(b.eraseFront(3));
         },
         ""},
        {"eraseFront 0 of 3 fails",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             EXPECT_FALSE(b.eraseFront(0));
         },
         "616263"},
        {"eraseFront 4 of 3 fails",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             EXPECT_FALSE(b.eraseFront(4));
         },
         "616263"},
        {"eraseFront 0 of empty", [](SecureBuffer& b) { EXPECT_TRUE(b.eraseFront(0)); }, ""},
        {"eraseFront 1 of empty fails", [](SecureBuffer& b) { EXPECT_FALSE(b.eraseFront(1)); }, ""},
        {"wipe",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             b.wipe();
         },
         ""},
        {"self assign keeps",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             b.assign(b);
         },
         "616263"},
        {"allocateForOverwrite replaces, then is written",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abcd"));
             b.allocateForOverwrite(3);
             std::memset(b.data(), 'z', 3);
         },
         "7a7a7a"},
        {"allocateForOverwrite of 0 empties",
         [](SecureBuffer& b) {
             b.assign(bufferOf("abc"));
             b.allocateForOverwrite(0);
         },
         ""},
        {"forOverwrite, then written",
         [](SecureBuffer& b) {
             b = SecureBuffer::forOverwrite(2);
             b.data()[0] = 'x';
             b.data()[1] = 'y';
         },
         "7879"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer b;
        row.operation(b);
        EXPECT_EQ(hexOf(b), row.expectedHex);
        EXPECT_EQ(b.size() == 0, b.data() == nullptr);
    }
}

TEST_F(SecureBufferTest, SliceClampsToWhatRemains) {
    SecureBuffer ten = bufferOf("0123456789");
    struct Row {
        uint32_t length, index;
        const char* expected;
    };
    const Row rows[] = {{5, 8, "89"}, {5, 10, ""},   {5, 11, ""},
                        {0, 2, ""},   {3, 0, "012"}, {std::numeric_limits<uint32_t>::max(), 7, "789"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.length) + " from " + std::to_string(row.index));
        SecureBuffer s = ten.slice(row.length, row.index);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.data()), s.size()), row.expected);
        EXPECT_EQ(s.size() == 0, s.data() == nullptr);
    }
    EXPECT_EQ(SecureBuffer().slice(1, 0).size(), 0u);
}

TEST_F(SecureBufferTest, AtThrowsOutsideTheBuffer) {
    SecureBuffer b = bufferOf("ab");
    EXPECT_EQ(b.at(1), 'b');
    b.at(0) = 'z';
    EXPECT_EQ(b.at(0), 'z');
    EXPECT_THROW(b.at(2), int);
    const SecureBuffer& c = b;
    EXPECT_THROW(c.at(2), int);
    EXPECT_THROW(SecureBuffer().at(0), int);
    try {
        b.at(5);
    } catch (int value) {
        EXPECT_EQ(value, 0);
    }
}

TEST_F(SecureBufferTest, GrowthPast32BitsThrowsAndKeepsContents) {
    const uint32_t huge = std::numeric_limits<uint32_t>::max();
    SecureBuffer b = bufferOf("abc");
    const int callsBefore = probe.obtainCalls;
    EXPECT_THROW(b.appendZeros(huge - 2), int);
    EXPECT_THROW(b.append(b.data(), huge - 2), int);
    EXPECT_THROW(b.prependZeros(huge), int);
    EXPECT_THROW(b.prepend(b.data(), huge - 1), int);
    EXPECT_EQ(probe.obtainCalls, callsBefore) << "overflow must be caught before allocating";
    EXPECT_EQ(hexOf(b), "616263");
    EXPECT_THROW(secureBufferGrownSize(huge, 1), int);
    EXPECT_EQ(secureBufferGrownSize(huge - 1, 1), huge);
}

TEST_F(SecureBufferTest, AllocationTriesSixTimesThenThrows) {
    probe.refusalsLeft = SECURE_BUFFER_ALLOCATION_ATTEMPTS - 1;
    SecureBuffer b;
    b.allocate(4);
    EXPECT_EQ(b.size(), 4u);
    EXPECT_EQ(probe.obtainCalls, SECURE_BUFFER_ALLOCATION_ATTEMPTS);

    SecureBuffer keep = bufferOf("keep");
    probe.obtainCalls = 0;
    probe.refusalsLeft = SECURE_BUFFER_ALLOCATION_ATTEMPTS;
    EXPECT_THROW(keep.append(bufferOf("x")), int);
    EXPECT_EQ(probe.obtainCalls, SECURE_BUFFER_ALLOCATION_ATTEMPTS);
    EXPECT_EQ(hexOf(keep), "6b656570") << "a failed operation leaves the old contents";

    struct Row {
        const char* name;
        std::function<void(SecureBuffer&)> operation;
    };
    probe.obtainCalls = 0;
    probe.refusalsLeft = SECURE_BUFFER_ALLOCATION_ATTEMPTS - 1;
    SecureBuffer unset = SecureBuffer::forOverwrite(5);
    EXPECT_EQ(unset.size(), 5u);
    EXPECT_EQ(probe.obtainCalls, SECURE_BUFFER_ALLOCATION_ATTEMPTS);
    probe.refusalsLeft = SECURE_BUFFER_ALLOCATION_ATTEMPTS;
    EXPECT_THROW(SecureBuffer::forOverwrite(5), int);
    probe.refusalsLeft = 0;

    const Row failing[] = {
        {"assign", [](SecureBuffer& b) { b.assign(bufferOf("zz")); }},
        {"resize", [](SecureBuffer& b) { b.resize(2); }},
        {"prepend", [](SecureBuffer& b) { b.prependZeros(1); }},
        {"eraseFront", [](SecureBuffer& b) { (void)b.eraseFront(1); }},
        {"copy", [](SecureBuffer& b) { SecureBuffer copy(b); }},
    };
    for (const Row& row : failing) {
        SCOPED_TRACE(row.name);
        SecureBuffer zz;
        zz.assign(bufferOf("keep"));
        probe.refusalsLeft = SECURE_BUFFER_ALLOCATION_ATTEMPTS;
        EXPECT_THROW(row.operation(zz), int);
        probe.refusalsLeft = 0;
        EXPECT_EQ(hexOf(zz), "6b656570");
    }
}

TEST_F(SecureBufferTest, EveryReleaseIsZeroedIncludingShrinkAndErase) {
    SecureBuffer b = bufferOf("secret bytes");
    const int releasesBefore = probe.releases;
    b.resize(3);
    EXPECT_EQ(probe.lastReleasedBytes, 12u);
    EXPECT_TRUE(b.eraseFront(1));
    b.append(bufferOf("more"));
    b.prependZeros(2);
    b.wipe();
    EXPECT_GT(probe.releases, releasesBefore + 3);
    // Memory taken for overwriting is wiped on release like any other.
    SecureBuffer unset = SecureBuffer::forOverwrite(9);
    std::memset(unset.data(), 0x77, unset.size());
    unset.wipe();
    EXPECT_EQ(probe.lastReleasedBytes, 9u);
    // TearDown checks that none of these releases held a nonzero byte.
}

TEST_F(SecureBufferTest, CopiesAreDeepAndMovesEmptyTheSource) {
    SecureBuffer a = bufferOf("abc");
    SecureBuffer copy(a);
    copy.at(0) = 'X';
    EXPECT_EQ(a.at(0), 'a');
    EXPECT_NE(copy.data(), a.data());

    SecureBuffer copied = SecureBuffer::copyOf(a);
    EXPECT_TRUE(copied.constantTimeEquals(a));

    const uint8_t* storage = a.data();
    SecureBuffer moved(std::move(a));
    EXPECT_EQ(moved.data(), storage);
    EXPECT_EQ(a.size(), 0u);  // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
    EXPECT_EQ(a.data(), nullptr);

    SecureBuffer target = bufferOf("old");
    target = std::move(moved);
    EXPECT_EQ(hexOf(target), "616263");
    EXPECT_EQ(moved.size(), 0u);  // NOLINT(bugprone-use-after-move)

    EXPECT_EQ(hexOf(SecureBuffer::zeros(3)), "000000");
    EXPECT_EQ(SecureBuffer::zeros(0).data(), nullptr);
}

TEST_F(SecureBufferTest, ConstantTimeEqualsCases) {
    struct Row {
        const char* name;
        std::string a, b;
        bool equal;
    };
    const Row rows[] = {
        {"sizes 4 and 5 with equal prefix", "abcd", "abcde", false},
        {"two empty", "", "", true},
        {"equal", "abcd", "abcd", true},
        {"last byte differs", "abcd", "abce", false},
        {"first byte differs", "abcd", "bbcd", false},
        {"one bit apart", std::string("\x01", 1), std::string("\x00", 1), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(bufferOf(row.a).constantTimeEquals(bufferOf(row.b)), row.equal);
        EXPECT_EQ(bufferOf(row.b).constantTimeEquals(bufferOf(row.a)), row.equal);
    }
}

TEST(SecureWipe, ZeroesEveryByte) {
    uint8_t bytes[37];
    std::memset(bytes, 0xFF, sizeof bytes);
    secureWipe(bytes + 1, 35);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[36], 0xFF);
    for (int i = 1; i < 36; ++i) EXPECT_EQ(bytes[i], 0) << i;
    secureWipe(nullptr, 0);
}
