// SPDX-License-Identifier: GPL-3.0-or-later
// parlan-bench [benchmark flags] [LOG_FILE]: the combat-log engine's throughput on a sample log: the
// head alone, the whole path as the replay runs it, and one 1 MiB catch-up pass of the follower.
// LOG_FILE defaults to the largest sample log.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "TemporaryFolder.h"
#include "common/Text.h"
#include "engine/LogFiles.h"
#include "engine/LogParser.h"
#include "engine/Thresholds.h"
#include "replay/Replay.h"

namespace {

namespace fs = std::filesystem;
using tavrin::testing::readFile;
using tavrin::testing::TemporaryFolder;

std::string logPath = PARLAN_BENCH_LOG;

void BM_Head(benchmark::State& state) {
    // The lines as the follower hands them to head: decoded and trimmed.
    std::ifstream text(logPath, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.emplace_back(tavrin::trim(tavrin::decodeText(line)));
    }
    TemporaryFolder movies;
    parlan::LineClock clock;
    parlan::LogParser parser(movies.path(), clock);
    for (auto _ : state) {
        for (const auto& line : lines) {
            benchmark::DoNotOptimize(parser.head(line));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(logPath)));
}

void BM_WholePath(benchmark::State& state) {
    std::size_t matches = 0;
    for (auto _ : state) {
        TemporaryFolder movies;
        const auto replayed = parlan::replayLog(logPath, movies.path());
        if (!replayed) {
            state.SkipWithError("cannot read the log");
            break;
        }
        matches = replayed->size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(logPath)));
    state.counters["matches"] = static_cast<double>(matches);
}

// A follower started on a live log of at least 5 MB that ends with `last`: the first line, then the last
// 1 MiB, the clock at the last line's time so that only its last 20 minutes pass the age test.
void BM_CatchUpPass(benchmark::State& state, const fs::path& last) {
    TemporaryFolder folder;
    const std::string path = folder.file("WoWCombatLog-" + last.stem().string() + ".txt");
    const std::string filler = readFile(logPath);
    std::string text = readFile(last.string());
    while (text.size() < 5'000'000) {
        text.insert(0, filler);
    }
    tavrin::testing::writeFile(path, text);
    parlan::LineClock clock;
    std::optional<parlan::LogFiles::LogFile> file;
    {
        parlan::LogParser parser(folder.path(), clock);
        parlan::LogFiles probe(parser, clock);
        parlan::Date lastDate{};
        probe.setLineDateObserver([&lastDate](parlan::Date date) { lastDate = date; });
        probe.onFileComplete(path);
        clock.set(lastDate);
        file = probe.getRecentFile(folder.path());
    }
    // A fresh follower for each pass, made and dropped outside the timing.
    std::optional<TemporaryFolder> movies;
    std::optional<parlan::LogParser> parser;
    std::optional<parlan::LogFiles> logs;
    for (auto _ : state) {
        state.PauseTiming();
        logs.reset();
        parser.reset();
        movies.emplace();
        parser.emplace(movies->path(), clock);
        logs.emplace(*parser, clock);
        state.ResumeTiming();
        logs->onFileModified(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * parlan::maxSize));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        logPath = argv[1];
    }
    if (!fs::is_regular_file(logPath)) {
        std::cerr << "parlan-bench: cannot read " << logPath << "\n";
        return 1;
    }
    benchmark::RegisterBenchmark("BM_Head", BM_Head)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_WholePath", BM_WholePath)->Unit(benchmark::kMillisecond)->UseRealTime();
    // Ends with the benchmark log's own session: after its match has ended.
    benchmark::RegisterBenchmark("BM_CatchUpPass/session_end", BM_CatchUpPass, fs::path(logPath))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    // Ends with a log of whole matches: every line goes to the match log.
    benchmark::RegisterBenchmark("BM_CatchUpPass/in_matches", BM_CatchUpPass,
                                 fs::path(PARLAN_BENCH_MATCH_LOG))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::AddCustomContext("log", logPath);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
