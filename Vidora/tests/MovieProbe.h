// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// libx265 3.5 leaks a little at every encoder it opens (the ffmpeg tool shows the same); the sanitizer
// build reads this list. Weak, so that several files of one test program may include it.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

namespace vidora::testing {

// The standard output of a shell command.
inline std::string run(const std::string& command) {
    std::string output;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char chunk[65536];
    for (std::size_t got; pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0;) {
        output.append(chunk, got);
    }
    return output;
}

// One audio track decoded to 48 kHz mono 16-bit samples.
inline std::vector<std::int16_t> decodedAudio(const std::string& path, int stream) {
    const auto bytes = run("ffmpeg -v error -i '" + path + "' -map 0:" + std::to_string(stream) +
                           " -f s16le -ac 1 -ar 48000 -");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

struct Loudness {
    double rootMeanSquare = 0;  // 0: every sample is zero
    // The median share of the power that a tone carries, over blocks (Goertzel): near 1
    // for a clean tone. Per block, so that a short gap the writer fills to keep the tracks in step cannot
    // cancel it.
    double toneShare = 0;
};

inline std::ostream& operator<<(std::ostream& out, const Loudness& level) {
    return out << "rms " << level.rootMeanSquare << ", tone share " << level.toneShare;
}

// How loud 48 kHz samples are from `from` (>= 0) to `to` seconds, and how much of it is a tone of
// `frequency`, over blocks of `block` samples.
inline Loudness loudness(const std::vector<std::int16_t>& samples, double from, double to, double frequency,
                         std::size_t block = 2400) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / 48000);
    double sum = 0;
    std::vector<double> shares;
    const auto last = std::min(samples.size(), static_cast<std::size_t>(to * 48000));
    for (auto start = static_cast<std::size_t>(from * 48000); start + block <= last; start += block) {
        double previous = 0, older = 0, power = 0;
        for (auto index = start; index < start + block; ++index) {
            power += samples[index] * samples[index];
            older = std::exchange(previous, samples[index] + coefficient * previous - older);
        }
        // A tone of amplitude a gives a Goertzel power of (a N / 2)^2 and a mean square of a^2 / 2.
        const double tone = previous * previous + older * older - coefficient * previous * older;
        shares.push_back(power == 0 ? 0 : 2 * tone / (block * power));
        sum += power;
    }
    std::ranges::sort(shares);
    return {std::sqrt(sum / (block * std::max<std::size_t>(shares.size(), 1))),
            shares.empty() ? 0 : shares[shares.size() / 2]};
}

}  // namespace vidora::testing
