// No benchmark of its own: puts the engine each primitive runs on in this process into the run's
// context, so that every report (console or JSON) says once what the unlabelled runs measured.

#include <benchmark/benchmark.h>

#include "crypto/engines.h"

namespace {

// Runs before main, as the benchmarks register themselves; the context must be in place before
// the first report is written.
const bool ENGINES_IN_CONTEXT = [] {
    benchmark::AddCustomContext("engines", enginesText(enginesInUse(), "portable"));
    return true;
}();

}  // namespace
