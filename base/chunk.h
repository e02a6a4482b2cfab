// The chunk: the unit in which files are read, compressed, sealed and written. Every chunk but a
// file's last holds exactly CHUNK_SIZE plaintext bytes; the codec's limits are tied to it.
#pragma once

#include <cstdint>

constexpr uint32_t CHUNK_SHIFT = 21;
constexpr uint32_t CHUNK_SIZE = uint32_t{1} << CHUNK_SHIFT;  // 2 MiB
