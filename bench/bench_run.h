// How a measuring program runs as a CTest test (label "bench", started with
// --ctest): briefly by default, a smoke test that prints its figures but
// holds only the targets that do not depend on the machine's load; at full
// length with every target held when VELNAR_BENCH_FULL=1 is in the
// environment (tools/run-tests.sh --bench, for a quiet machine).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velnar::bench {

inline bool IsCtestRun(int argc, char** argv)
{
    return argc > 1 && std::strcmp(argv[1], "--ctest") == 0;
}

inline bool IsFullRun()
{
    const char* full = std::getenv("VELNAR_BENCH_FULL");
    return full && *full && std::strcmp(full, "0") != 0;
}

inline void PrintRunKind(bool full)
{
    std::printf("run: %s\n",
                full ? "full, every target held" : "smoke test, load-sensitive targets not held");
}

}  // namespace velnar::bench
