// Detection of the x86 instruction-set extensions behind the fast paths of the primitives; owns
// the process-wide CpuFeatures record. Other processors report none.
#include "crypto/cpu_features.h"

#include <cstdint>
#include <cstdlib>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define FERROLYN_CPU_X86 1
#endif

namespace {

#if FERROLYN_CPU_X86
// Leaf 1, ecx and edx.
constexpr uint32_t LEAF1_ECX_SSSE3 = 1u << 9;
constexpr uint32_t LEAF1_ECX_SSE41 = 1u << 19;
constexpr uint32_t LEAF1_ECX_PCLMUL = 1u << 1;
constexpr uint32_t LEAF1_ECX_AES = 1u << 25;
constexpr uint32_t LEAF1_ECX_OSXSAVE = 1u << 27;
constexpr uint32_t LEAF1_ECX_AVX = 1u << 28;
constexpr uint32_t LEAF1_EDX_SSE2 = 1u << 26;
// Leaf 7 sub-leaf 0, ebx.
constexpr uint32_t LEAF7_EBX_AVX2 = 1u << 5;
constexpr uint32_t LEAF7_EBX_SHA = 1u << 29;
// XCR0: the operating system saves the SSE (bit 1) and AVX (bit 2) register state.
constexpr uint32_t XCR0_SSE_AVX_STATE = 0x6;

// xgetbv with ecx = 0, spelled as bytes so that no assembler or target option is needed for it.
// Valid only when cpuid reports OSXSAVE.
uint32_t readXcr0Low() {
    uint32_t low = 0;
    uint32_t high = 0;
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}
#endif

}  // namespace

bool cpuPortableRequested(const char* value) {
    if (value == nullptr || value[0] == '\0') {
        return false;
    }
    return !(value[0] == '0' && value[1] == '\0');
}

CpuFeatures cpuDetectFeatures() {
    CpuFeatures features;
#if FERROLYN_CPU_X86
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    // __get_cpuid_max checks that cpuid exists at all (it may not on a 32-bit processor).
    const unsigned int maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf < 1) {
        return features;
    }
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    features.sse2 = (edx & LEAF1_EDX_SSE2) != 0;
    features.ssse3 = features.sse2 && (ecx & LEAF1_ECX_SSSE3) != 0;
    features.sse41 = features.ssse3 && (ecx & LEAF1_ECX_SSE41) != 0;
    features.aesni = features.sse2 && (ecx & LEAF1_ECX_AES) != 0;
    features.pclmul = features.sse2 && (ecx & LEAF1_ECX_PCLMUL) != 0;
    const bool osSavesAvx = (ecx & LEAF1_ECX_OSXSAVE) != 0 && (ecx & LEAF1_ECX_AVX) != 0 &&
                            (readXcr0Low() & XCR0_SSE_AVX_STATE) == XCR0_SSE_AVX_STATE;
    if (maxLeaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        features.sha = features.sse41 && (ebx & LEAF7_EBX_SHA) != 0;
        features.avx2 = osSavesAvx && (ebx & LEAF7_EBX_AVX2) != 0;
    }
#endif
    return features;
}

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features =
        cpuPortableRequested(std::getenv("FERROLYN_PORTABLE")) ? CpuFeatures{} : cpuDetectFeatures();
    return features;
}
