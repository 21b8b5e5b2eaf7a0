// Runs every benchmark as usual, then ends with one table: each row's figure (a ratio to the
// baseline timed in the same iterations, or an absolute figure), its target and whether the
// target was met. When QUAYLET_BENCH_TABLE names a file, the rows are also appended to it as
// tab-separated lines, so that `make bench` can put the application's rows in the same table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Relation { below, atMost, atLeast };

struct Target {
    const char* benchmark;
    const char* row;
    // Empty: the CPU time per iteration in the benchmark's unit, for a computation on one
    // thread, which on a machine shared with builds would otherwise be timed waiting for a core.
    const char* counter;
    Relation relation;  // of the figure to the bound
    double bound;
    const char* unit;
};

const Target kTargets[] = {
    {"BM_FirstRemoteLaunchAgainstCurlOpensslBsdtar",
     "First launch to selecting vs curl + openssl dgst + bsdtar -x", "time_ratio", Relation::atMost,
     0.80, "x"},
    {"BM_CachedRemoteLaunchAgainstOpensslBsdtar",
     "Cached relaunch to selecting vs openssl dgst + bsdtar -x", "time_ratio", Relation::atMost,
     1.00, "x"},
    {"BM_ExtractSecurelyAgainstBsdtar", "extractSecurely 200 MB / 4,000 files vs bsdtar -x",
     "time_ratio", Relation::atMost, 1.10, "x"},
    {"BM_Sha256AgainstOpensslDgst", "SHA-256 of 1 GiB vs openssl dgst (throughput)",
     "throughput_ratio", Relation::atLeast, 0.95, "x"},
    {"decodeAssembleAndSelect", "Simulator listing: decode + assemble + select, 2,000 devices, CPU",
     "", Relation::atMost, 2.0, " ms"},
    {"BM_FirstRemoteLaunchPeakMemory", "Peak memory of a 1 GiB first launch", "peak_mib",
     Relation::below, 64, " MiB"},
    {"BM_ClickToRunningAgainstEarlyBootOff",
     "Click to running, 5 s boot, 5 s download vs early boot turned off", "time_ratio",
     Relation::atMost, 0.65, "x"},
    {"BM_RefusalOfANewerOSBuildAgainstAfterDownload",
     "Refusing a 1 GiB newer-iOS build vs after download (claim unread)", "time_ratio",
     Relation::atMost, 0.05, "x"},
};

struct Row {
    std::string row;
    std::string figure;
    std::string target;
    std::string met;
};

std::string formatted(double value, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f%s", value, unit);
    return text;
}

class TableReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) {
                continue;
            }
            for (const Target& target : kTargets) {
                if (run.run_name.function_name == target.benchmark) {
                    figures_[target.benchmark] = figureOf(run, target);
                }
            }
        }
    }

    std::vector<Row> rows() const {
        std::vector<Row> rows;
        for (const Target& target : kTargets) {
            const auto found = figures_.find(target.benchmark);
            if (found == figures_.end()) {
                continue;  // not run: filtered out or not built
            }
            Row row{target.row, "failed", formatted(target.bound, target.unit), "no"};
            row.target.insert(0, target.relation == Relation::below    ? "< "
                                 : target.relation == Relation::atMost ? "<= "
                                                                       : ">= ");
            if (found->second) {
                const double figure = *found->second;
                row.figure = formatted(figure, target.unit);
                const bool met = target.relation == Relation::below    ? figure < target.bound
                                 : target.relation == Relation::atMost ? figure <= target.bound
                                                                       : figure >= target.bound;
                row.met = met ? "yes" : "no";
            }
            rows.push_back(row);
        }
        return rows;
    }

  private:
    static std::optional<double> figureOf(const Run& run, const Target& target) {
        if (run.error_occurred) {
            return std::nullopt;
        }
        if (*target.counter == '\0') {
            return run.GetAdjustedCPUTime();
        }
        const auto counter = run.counters.find(target.counter);
        if (counter == run.counters.end()) {
            return std::nullopt;
        }
        return counter->second.value;
    }

    std::map<std::string, std::optional<double>> figures_;
};

void printTable(const std::vector<Row>& rows) {
    std::printf("\n%-66s %12s %12s  %s\n", "Row", "Figure", "Target", "Met");
    for (const Row& row : rows) {
        std::printf("%-66s %12s %12s  %s\n", row.row.c_str(), row.figure.c_str(),
                    row.target.c_str(), row.met.c_str());
    }
}

void appendRows(const char* file, const std::vector<Row>& rows) {
    std::ofstream out(file, std::ios::app);
    for (const Row& row : rows) {
        out << row.row << '\t' << row.figure << '\t' << row.target << '\t' << row.met << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const std::vector<Row> rows = reporter.rows();
    printTable(rows);
    if (const char* file = std::getenv("QUAYLET_BENCH_TABLE")) {
        appendRows(file, rows);
    }
    return 0;
}
