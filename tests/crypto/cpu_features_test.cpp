// CPU feature detection: which values of FERROLYN_PORTABLE force the portable code, that a process
// started with it reports no feature and runs every primitive on its portable engine, and that
// the detected flags are consistent.

#include "crypto/cpu_features.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "crypto/aes.h"
#include "crypto/engines.h"
#include "crypto/sha256.h"

namespace {

bool anyFeature(const CpuFeatures& f) { return f.sse2 || f.ssse3 || f.sse41 || f.aesni || f.pclmul || f.sha || f.avx2; }

void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value == nullptr ? "" : value);
#else
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
#endif
}

TEST(CpuFeatures, PortableRequestedByAnyValueButEmptyAndZero) {
    const struct {
        const char* value;
        bool requested;
    } rows[] = {{nullptr, false}, {"", false},  {"0", false}, {"1", true},    {"yes", true},
                {"00", true},     {"0 ", true}, {" ", true},  {"false", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value == nullptr ? "(not set)" : row.value);
        EXPECT_EQ(cpuPortableRequested(row.value), row.requested);
    }
}

// Whatever this process was started with, cpuFeatures() is either nothing or what the processor
// offers, and never changes.
TEST(CpuFeatures, ProcessRecordFollowsTheEnvironment) {
    const CpuFeatures& features = cpuFeatures();
    EXPECT_EQ(&cpuFeatures(), &features);
    const CpuFeatures detected = cpuDetectFeatures();
    if (cpuPortableRequested(std::getenv("FERROLYN_PORTABLE"))) {
        EXPECT_FALSE(anyFeature(features));
    } else {
        EXPECT_EQ(features.sse2, detected.sse2);
        EXPECT_EQ(features.ssse3, detected.ssse3);
        EXPECT_EQ(features.sse41, detected.sse41);
        EXPECT_EQ(features.aesni, detected.aesni);
        EXPECT_EQ(features.pclmul, detected.pclmul);
        EXPECT_EQ(features.sha, detected.sha);
        EXPECT_EQ(features.avx2, detected.avx2);
    }
}

// Each flag comes only with those its instructions are used beside.
TEST(CpuFeatures, FlagsImplyWhatTheyNeed) {
    const CpuFeatures detected = cpuDetectFeatures();
    EXPECT_TRUE(!detected.ssse3 || detected.sse2);
    EXPECT_TRUE(!detected.sse41 || detected.ssse3);
    EXPECT_TRUE(!detected.aesni || detected.sse2);
    EXPECT_TRUE(!detected.pclmul || detected.sse2);
    EXPECT_TRUE(!detected.sha || detected.sse41);
#if defined(__x86_64__)
    EXPECT_TRUE(detected.sse2) << "every x86-64 processor has SSE2";
#endif
#if !defined(__i386__) && !defined(__x86_64__)
    EXPECT_FALSE(anyFeature(detected));
#endif
}

// A child process started with FERROLYN_PORTABLE=1 sees no feature, prefers the portable
// engines and records them as the engines in use. The child is a fresh start of this program (the
// threadsafe style), so the variable is set before anything in it detects the processor.
TEST(CpuFeaturesDeathTest, PortableEnvironmentForcesThePortableEngines) {
#if GTEST_HAS_DEATH_TEST
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* before = std::getenv("FERROLYN_PORTABLE");
    const std::string saved = before == nullptr ? "" : before;
    setEnvironment("FERROLYN_PORTABLE", "1");
    EXPECT_EXIT(
        {
            const PrimitiveEngines& engines = enginesInUse();
            const bool portable = !anyFeature(cpuFeatures()) && aesPreferredEngine() == AES_ENGINE_PORTABLE &&
                                  sha256PreferredEngine() == SHA256_ENGINE_PORTABLE &&
                                  !aesEngineAvailable(AES_ENGINE_NI) && !sha256EngineAvailable(SHA256_ENGINE_SHA_NI) &&
                                  serpentPreferredEngine() == SERPENT_ENGINE_PORTABLE &&
                                  engines.aes == AES_ENGINE_PORTABLE && engines.sha256 == SHA256_ENGINE_PORTABLE &&
                                  engines.serpent == SERPENT_ENGINE_PORTABLE;
            std::exit(portable ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    setEnvironment("FERROLYN_PORTABLE", before == nullptr ? nullptr : saved.c_str());
#else
    GTEST_SKIP() << "no death tests on this platform";
#endif
}

}  // namespace
