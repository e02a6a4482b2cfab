// Which x86 instruction-set extensions the processor and the operating system offer, detected
// once; owns CpuFeatures. Other processors report none, and so does any process started with
// FERROLYN_PORTABLE set, which puts every primitive on its portable code.
#pragma once

// A flag is set only together with the flags its instructions are used beside: ssse3 and aesni
// imply sse2, sse41 implies ssse3, sha implies sse41.
struct CpuFeatures {
    bool sse2 = false;
    bool ssse3 = false;
    bool sse41 = false;
    bool aesni = false;
    bool pclmul = false;
    bool sha = false;
    bool avx2 = false;
};

// The features of this process, detected on the first call with cpuid (and xgetbv for the
// operating system's saving of the AVX registers). Thread-safe; the record never changes later.
// Every flag is false when the environment variable FERROLYN_PORTABLE holds a value that
// cpuPortableRequested accepts.
const CpuFeatures& cpuFeatures();

// What the processor offers, detected afresh on every call and ignoring FERROLYN_PORTABLE.
CpuFeatures cpuDetectFeatures();

// True when value (the text of FERROLYN_PORTABLE, null when the variable is not set) asks for
// the portable code: set, not empty, and not exactly "0".
bool cpuPortableRequested(const char* value);
