// The process's record of engines, taken once from the primitives' choosers, and the engines'
// names.
#include "crypto/engines.h"

namespace {

PrimitiveEngines chooseEngines() {
    PrimitiveEngines engines;
    engines.aes = aesPreferredEngine();
    engines.sha256 = sha256PreferredEngine();
    engines.serpent = serpentPreferredEngine();
    return engines;
}

void appendEngine(std::string& text, const char* primitive, bool portable, const char* name, const char* portableName) {
    if (!text.empty()) text += ", ";
    text += primitive;
    text += ' ';
    text += portable ? portableName : name;
}

}  // namespace

const PrimitiveEngines& enginesInUse() {
    static const PrimitiveEngines engines = chooseEngines();
    return engines;
}

const char* engineName(AesEngine engine) {
    switch (engine) {
    case AES_ENGINE_PORTABLE: return "portable";
    case AES_ENGINE_NI: return "AES-NI";
    }
    return "?";
}

const char* engineName(Sha256Engine engine) {
    switch (engine) {
    case SHA256_ENGINE_PORTABLE: return "portable";
    case SHA256_ENGINE_SHA_NI: return "SHA-NI";
    }
    return "?";
}

const char* engineName(SerpentEngine engine) {
    switch (engine) {
    case SERPENT_ENGINE_PORTABLE: return "portable";
    case SERPENT_ENGINE_SSE2: return "SSE2";
    case SERPENT_ENGINE_AVX2: return "AVX2";
    }
    return "?";
}

std::string enginesText(const PrimitiveEngines& engines, const char* portableName) {
    std::string text;
    appendEngine(text, "AES-256", engines.aes == AES_ENGINE_PORTABLE, engineName(engines.aes), portableName);
    appendEngine(text, "SHA-256", engines.sha256 == SHA256_ENGINE_PORTABLE, engineName(engines.sha256), portableName);
    appendEngine(text, "Serpent", engines.serpent == SERPENT_ENGINE_PORTABLE, engineName(engines.serpent),
                 portableName);
    return text;
}
