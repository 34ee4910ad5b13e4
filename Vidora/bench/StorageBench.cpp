// SPDX-License-Identifier: GPL-3.0-or-later
// vidora-storage-bench [benchmark flags]: keeping the storage limit over a folder of 5,000 movies (sparse
// files, each with its subtitles and match log): /0 within the limit (the scan and the plan), /1 just past
// it, when the oldest 5 % (251 movies) are deleted.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <iostream>

#include "TemporaryFolder.h"
#include "capture/MovieStorage.h"
#include "common/DateTime.h"

namespace {

constexpr int movies = 5000;
constexpr std::uint64_t movieSize = 3'500'000'000;  // an hour at 1080p

// The movie of the n-th hour of 2025, with its subtitles and match log.
void makeMovie(const std::string& folder, int n) {
    const std::string stamp = tavrin::fileStamp(tavrin::Date(std::chrono::hours(483'000 + n)));
    tavrin::testing::writeFile(folder + "/" + stamp + ".srt", "1\r\n");
    tavrin::testing::writeFile(folder + "/.logs/" + stamp + ".log", "x\r\n");
    tavrin::testing::writeFile(folder + "/" + stamp + ".mp4", "");
    std::filesystem::resize_file(folder + "/" + stamp + ".mp4", movieSize);
}

void BM_KeepWithin(benchmark::State& state) {
    const tavrin::testing::TemporaryFolder folder;
    std::filesystem::create_directories(folder.path() + "/.logs");
    for (int n = 0; n < movies; ++n) {
        makeMovie(folder.path(), n);
    }
    const bool over = state.range(0) == 1;
    const std::uint64_t limit = (over ? movies - 1 : movies) * movieSize;
    const int deleted = over ? movies - static_cast<int>(vidora::MovieStorage::target * (movies - 1)) : 0;
    const vidora::MovieStorage storage;
    for (auto _ : state) {
        storage.keepWithin(folder.path(), limit);
        state.PauseTiming();
        for (int n = 0; n < deleted; ++n) {
            makeMovie(folder.path(), n);
        }
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_KeepWithin)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    std::cerr.setstate(std::ios::badbit);  // the log of each deletion
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
