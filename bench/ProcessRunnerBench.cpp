// The runner's overhead over the bare system calls it wraps: compare the two rows'
// times (the runner's target is at most 1.5x the bare spawn).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include "core/process/ProcessRunner.h"

extern char** environ;

namespace {

constexpr const char* kProgram = "/bin/true";

void BM_BarePosixSpawnAndWait(benchmark::State& state) {
    char* argv[] = {const_cast<char*>(kProgram), nullptr};
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawn(&child, kProgram, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            return;
        }
        int status = 0;
        waitpid(child, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_BarePosixSpawnAndWait)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_ProcessRunnerRun(benchmark::State& state) {
    const quaylet::ProcessRunner runner;
    const quaylet::ToolCommand command{kProgram, {}};
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(command, {}));
    }
}
BENCHMARK(BM_ProcessRunnerRun)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
