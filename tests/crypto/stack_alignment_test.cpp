// Every fast-path entry called on a stack 4, 8 and 12 bytes off the 16-byte alignment that the
// compiler otherwise assumes, as 32-bit Windows enters a thread or a window procedure: each must
// run (an aligned vector access to a misaligned stack slot faults) and give the portable bytes.
// i686 only: the x86-64 ABI guarantees the alignment, and nothing there realigns.

#include <gtest/gtest.h>

#if defined(__i386__)

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/aes_ni.h"
#include "crypto/serpent.h"
#include "crypto/serpent_simd.h"
#include "crypto/sha256.h"
#include "crypto/sha256_ni.h"
#include "tests/crypto/cipher_test_support.h"

// Calls function with argCount 32-bit cdecl arguments copied from args, on a stack whose pointer
// at the call is offsetBytes past a 16-byte boundary (0 is the aligned call the compiler makes),
// and returns what the function left in eax.
extern "C" uint32_t stackOffsetCall(uint32_t offsetBytes, const void* function, const uint32_t* args,
                                    uint32_t argCount) __asm__("ferrolyn_stack_offset_call");

__asm__(R"(
    .text
    .globl ferrolyn_stack_offset_call
ferrolyn_stack_offset_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 16(%ebp), %esi
    movl 20(%ebp), %ecx
    andl $-16, %esp
    leal 15(,%ecx,4), %edx
    andl $-16, %edx
    addl 8(%ebp), %edx
    subl %edx, %esp
    xorl %edx, %edx
1:  cmpl %ecx, %edx
    jae 2f
    movl (%esi,%edx,4), %edi
    movl %edi, (%esp,%edx,4)
    incl %edx
    jmp 1b
2:  call *12(%ebp)
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

namespace {

using namespace cipher_test;

constexpr uint32_t STACK_OFFSETS[] = {4, 8, 12};
constexpr size_t BLOCK = 16;

template <class T>
uint32_t word(T value) {
    static_assert(sizeof(T) <= 4);
    uint32_t w = 0;
    std::memcpy(&w, &value, sizeof value);
    return w;
}

template <class F>
uint32_t callOffset(uint32_t offset, F* function, std::initializer_list<uint32_t> args) {
    const std::vector<uint32_t> words(args);
    return stackOffsetCall(offset, reinterpret_cast<const void*>(function), words.data(),
                           static_cast<uint32_t>(words.size()));
}

// A bool result is only the low byte of eax.
bool boolResult(uint32_t eax) { return (eax & 0xff) != 0; }

// The thunk itself, on a function that records where its stack stood.
uintptr_t stackAtEntry = 0;
__attribute__((noinline)) void recordStack() { stackAtEntry = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

TEST(MisalignedStack, ThunkOffsetsTheStackByWhatItIsTold) {
    // The frame address is the saved ebp: 8 bytes below the caller's stack pointer at the call.
    callOffset(0, recordStack, {});
    const uintptr_t aligned = stackAtEntry % 16;
    for (uint32_t offset : STACK_OFFSETS) {
        callOffset(offset, recordStack, {});
        EXPECT_EQ((aligned - stackAtEntry % 16 + 16) % 16, offset);
    }
}

// --- AES-NI ---

class MisalignedStackAes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!aesEngineAvailable(AES_ENGINE_NI)) GTEST_SKIP() << "the processor lacks AES-NI";
        SeededBytes random(0x57ac0001);
        ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(32))));
        plaintext = random.next(BLOCK * 21);
        iv = random.next(BLOCK);
    }
    void TearDown() override { aesWipe(schedule); }

    AesKeySchedule schedule;
    Bytes plaintext;
    Bytes iv;
};

TEST_F(MisalignedStackAes, BlocksAndCbcMatchPortable) {
    const size_t blocks = plaintext.size() / BLOCK;
    Bytes ecb = plaintext;
    ASSERT_TRUE(aesEncryptBlocks(schedule, ecb.data(), blocks, AES_ENGINE_PORTABLE));
    Bytes cbc = plaintext;
    ASSERT_TRUE(aesCbcEncrypt(schedule, iv.data(), cbc.data(), blocks, AES_ENGINE_PORTABLE));
    for (uint32_t offset : STACK_OFFSETS) {
        SCOPED_TRACE(offset);
        Bytes data = plaintext;
        callOffset(offset, aesNiEncryptBlocks, {word(&schedule), word(data.data()), word(blocks)});
        EXPECT_EQ(toHex(data), toHex(ecb));
        callOffset(offset, aesNiDecryptBlocks, {word(&schedule), word(data.data()), word(blocks)});
        EXPECT_EQ(toHex(data), toHex(plaintext));

        data = plaintext;
        callOffset(offset, aesNiCbcEncrypt, {word(&schedule), word(iv.data()), word(data.data()), word(blocks)});
        EXPECT_EQ(toHex(data), toHex(cbc));
        Bytes decrypted(data.size());
        callOffset(offset, aesNiCbcDecrypt,
                   {word(&schedule), word(iv.data()), word(data.data()), word(decrypted.data()), word(blocks)});
        EXPECT_EQ(toHex(decrypted), toHex(plaintext));
    }
}

TEST_F(MisalignedStackAes, CbcLanesMatchPortable) {
    // Five lanes of different lengths: more than the four side by side of the i686 build.
    const size_t lengths[] = {21, 3, 17, 1, 9};
    for (uint32_t offset : STACK_OFFSETS) {
        SCOPED_TRACE(offset);
        std::vector<Bytes> fast;
        std::vector<Bytes> reference;
        std::vector<CbcLane> fastLanes;
        std::vector<CbcLane> referenceLanes;
        for (size_t length : lengths) {
            fast.emplace_back(plaintext.begin(), plaintext.begin() + static_cast<long>(BLOCK * length));
            reference.push_back(fast.back());
        }
        for (size_t i = 0; i < fast.size(); ++i) {
            CbcLane lane{};
            std::memcpy(lane.chainingBlock, iv.data(), BLOCK);
            lane.chainingBlock[0] = static_cast<uint8_t>(i);
            lane.blockCount = lengths[i];
            lane.data = fast[i].data();
            fastLanes.push_back(lane);
            lane.data = reference[i].data();
            referenceLanes.push_back(lane);
        }
        ASSERT_TRUE(aesCbcEncryptLanes(schedule, referenceLanes.data(), referenceLanes.size(), AES_ENGINE_PORTABLE));
        callOffset(offset, aesNiCbcEncryptLanes, {word(&schedule), word(fastLanes.data()), word(fastLanes.size())});
        for (size_t i = 0; i < fast.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(toHex(fast[i]), toHex(reference[i]));
            EXPECT_EQ(toHex(fastLanes[i].chainingBlock, BLOCK), toHex(referenceLanes[i].chainingBlock, BLOCK));
        }
    }
}

// --- SHA-NI ---

TEST(MisalignedStackSha256, CompressionMatchesPortable) {
    if (!sha256EngineAvailable(SHA256_ENGINE_SHA_NI)) GTEST_SKIP() << "the processor lacks the SHA extensions";
    SeededBytes random(0x57ac0002);
    const Bytes blocks = random.next(64 * 5);
    uint32_t start[8];
    std::memcpy(start, random.next(sizeof start).data(), sizeof start);
    uint32_t expected[8];
    std::memcpy(expected, start, sizeof start);
    sha256Compress(expected, blocks.data(), 5, SHA256_ENGINE_PORTABLE);
    for (uint32_t offset : STACK_OFFSETS) {
        SCOPED_TRACE(offset);
        uint32_t state[8];
        std::memcpy(state, start, sizeof start);
        callOffset(offset, sha256NiCompress, {word(&state[0]), word(blocks.data()), word(size_t{5})});
        EXPECT_EQ(toHex(reinterpret_cast<const uint8_t*>(state), sizeof state),
                  toHex(reinterpret_cast<const uint8_t*>(expected), sizeof expected));
    }
}

// --- Serpent, SSE2 and AVX2 ---

struct SerpentPathRow {
    const char* name;
    SerpentEngine path;
};

const SerpentPathRow SIMD_PATHS[] = {{"SSE2", SERPENT_ENGINE_SSE2}, {"AVX2", SERPENT_ENGINE_AVX2}};

SerpentKeySchedule serpentScheduleOf(const Bytes& key) {
    SerpentKeySchedule schedule;
    EXPECT_TRUE(serpentSetKey(schedule, bufferOf(key)));
    return schedule;
}

// Eleven CBC lanes of 27 down to 17 blocks of plaintext, each with its own IV: more lanes than
// two AVX2 groups hold, so the choice of lanes and the narrower steps run too.
constexpr size_t SERPENT_LANES = 11;

struct SerpentLanes {
    std::vector<Bytes> data;
    CbcLane lanes[SERPENT_LANES];
};

void fillSerpentLanes(SerpentLanes& out, const Bytes& plaintext, const Bytes& iv) {
    out.data.clear();
    for (size_t i = 0; i < SERPENT_LANES; ++i) {
        out.data.emplace_back(plaintext.begin(), plaintext.end() - static_cast<long>(BLOCK * i));
    }
    for (size_t i = 0; i < SERPENT_LANES; ++i) {
        std::memcpy(out.lanes[i].chainingBlock, iv.data(), BLOCK);
        out.lanes[i].chainingBlock[0] = static_cast<uint8_t>(i);
        out.lanes[i].data = out.data[i].data();
        out.lanes[i].blockCount = out.data[i].size() / BLOCK;
    }
}

TEST(MisalignedStackSerpent, BlocksCbcAndLanesMatchPortable) {
    SeededBytes random(0x57ac0003);
    const SerpentKeySchedule schedule = serpentScheduleOf(random.next(32));
    // 27 blocks: two AVX2 groups side by side, an SSE2 group, and a zero-padded tail group.
    const Bytes plaintext = random.next(BLOCK * 27);
    const Bytes iv = random.next(BLOCK);
    const size_t blocks = plaintext.size() / BLOCK;

    Bytes ecb = plaintext;
    ASSERT_TRUE(serpentEncryptBlocksOn(SERPENT_ENGINE_PORTABLE, schedule, ecb.data(), blocks));
    SerpentLanes reference;
    fillSerpentLanes(reference, plaintext, iv);
    ASSERT_TRUE(serpentCbcEncryptLanesOn(SERPENT_ENGINE_PORTABLE, schedule, reference.lanes, SERPENT_LANES));
    // Lane 0 is the whole plaintext with the IV as given.
    const Bytes& cbc = reference.data[0];

    int ran = 0;
    for (const auto& row : SIMD_PATHS) {
        if (!serpentEngineAvailable(row.path)) continue;
        ++ran;
        for (uint32_t offset : STACK_OFFSETS) {
            SCOPED_TRACE(std::string(row.name) + " offset " + std::to_string(offset));
            Bytes data = plaintext;
            EXPECT_TRUE(boolResult(callOffset(offset, serpentEncryptBlocksOn,
                                              {word(row.path), word(&schedule), word(data.data()), word(blocks)})));
            EXPECT_EQ(toHex(data), toHex(ecb));
            EXPECT_TRUE(boolResult(callOffset(offset, serpentDecryptBlocksOn,
                                              {word(row.path), word(&schedule), word(data.data()), word(blocks)})));
            EXPECT_EQ(toHex(data), toHex(plaintext));

            SerpentLanes fast;
            fillSerpentLanes(fast, plaintext, iv);
            EXPECT_TRUE(
                boolResult(callOffset(offset, serpentCbcEncryptLanesOn,
                                      {word(row.path), word(&schedule), word(&fast.lanes[0]), word(SERPENT_LANES)})));
            for (size_t i = 0; i < SERPENT_LANES; ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(toHex(fast.data[i]), toHex(reference.data[i]));
                EXPECT_EQ(toHex(fast.lanes[i].chainingBlock, BLOCK), toHex(reference.lanes[i].chainingBlock, BLOCK));
            }

            Bytes chaining = iv;
            chaining[0] = 0;
            Bytes decrypted(cbc.size());
            EXPECT_TRUE(boolResult(callOffset(offset, serpentCbcDecryptOn,
                                              {word(row.path), word(&schedule), word(chaining.data()), word(cbc.data()),
                                               word(decrypted.data()), word(cbc.size())})));
            EXPECT_EQ(toHex(decrypted), toHex(plaintext));
        }
    }
    if (ran == 0) GTEST_SKIP() << "the processor has neither SSE2 nor AVX2";
}

}  // namespace

#endif  // __i386__
