// Which engine each primitive runs on in this process, and the names people read for them: the
// one record that the benchmarks and the tool's version output print. Owns PrimitiveEngines. Each
// primitive chooses its own engine once, by one pattern: XEngine, xEngineAvailable and
// xPreferredEngine (aesPreferredEngine, sha256PreferredEngine, serpentPreferredEngine).
#pragma once

#include <string>

#include "crypto/aes.h"
#include "crypto/serpent_simd.h"
#include "crypto/sha256.h"

struct PrimitiveEngines {
    AesEngine aes = AES_ENGINE_PORTABLE;
    Sha256Engine sha256 = SHA256_ENGINE_PORTABLE;
    SerpentEngine serpent = SERPENT_ENGINE_PORTABLE;
};

// The engines of this process, taken from each primitive's chooser on the first call; thread-safe,
// and the record never changes later. Under FERROLYN_PORTABLE every member is the portable engine.
// Serpent's member is the engine that its chooser named at that first call: a test that hides
// processor features from the Serpent code (serpentHideCpuFeatures) changes what that code runs
// on afterwards, not this record.
const PrimitiveEngines& enginesInUse();

// Short names: "portable", "AES-NI", "SHA-NI", "SSE2", "AVX2".
const char* engineName(AesEngine engine);
const char* engineName(Sha256Engine engine);
const char* engineName(SerpentEngine engine);

// One line naming every primitive's engine, e.g. "AES-256 AES-NI, SHA-256 SHA-NI, Serpent AVX2",
// with each portable engine called portableName instead of "portable" (a caller writes in its
// own language). portableName MUST NOT be null.
std::string enginesText(const PrimitiveEngines& engines, const char* portableName);
