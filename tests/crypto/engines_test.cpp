// The record of engines: that it holds what each primitive's chooser runs on, and the names and
// the line built from them. That FERROLYN_PORTABLE leaves only portable engines in it is tested
// with the other portable engines in cpu_features_test.cpp.

#include "crypto/engines.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/cpu_features.h"

namespace {

TEST(Engines, RecordHoldsWhatEachPrimitiveRunsOn) {
    const PrimitiveEngines& engines = enginesInUse();
    EXPECT_EQ(&enginesInUse(), &engines);
    EXPECT_EQ(engines.aes, aesPreferredEngine());
    EXPECT_EQ(engines.sha256, sha256PreferredEngine());
    EXPECT_EQ(engines.serpent, serpentPreferredEngine());
    EXPECT_TRUE(aesEngineAvailable(engines.aes));
    EXPECT_TRUE(sha256EngineAvailable(engines.sha256));
    // The fastest: a processor that offers the instructions gets them.
    const CpuFeatures& features = cpuFeatures();
    EXPECT_EQ(engines.aes == AES_ENGINE_NI, features.aesni && features.ssse3);
    EXPECT_EQ(engines.sha256 == SHA256_ENGINE_SHA_NI, features.sha);
}

// Every engine's name; every portable engine, and only a portable one, is called by the caller's
// word.
TEST(Engines, TextNamesEveryPrimitive) {
    const struct {
        PrimitiveEngines engines;
        const char* portableName;
        const char* text;
    } rows[] = {
        {{AES_ENGINE_NI, SHA256_ENGINE_SHA_NI, SERPENT_ENGINE_AVX2},
         "portabel",
         "AES-256 AES-NI, SHA-256 SHA-NI, Serpent AVX2"},
        {{AES_ENGINE_PORTABLE, SHA256_ENGINE_PORTABLE, SERPENT_ENGINE_PORTABLE},
         "portabel",
         "AES-256 portabel, SHA-256 portabel, Serpent portabel"},
        {{AES_ENGINE_PORTABLE, SHA256_ENGINE_PORTABLE, SERPENT_ENGINE_PORTABLE},
         "portable",
         "AES-256 portable, SHA-256 portable, Serpent portable"},
        {{AES_ENGINE_NI, SHA256_ENGINE_PORTABLE, SERPENT_ENGINE_SSE2},
         "portabel",
         "AES-256 AES-NI, SHA-256 portabel, Serpent SSE2"},
        {{AES_ENGINE_PORTABLE, SHA256_ENGINE_SHA_NI, SERPENT_ENGINE_PORTABLE},
         "portabel",
         "AES-256 portabel, SHA-256 SHA-NI, Serpent portabel"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(enginesText(row.engines, row.portableName), row.text);
    }
}

}  // namespace
