#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// libx265 3.5 leaks a little at every encoder it opens (the ffmpeg tool shows the same); the sanitizer
// build reads this list. Included by one file of each test program that writes movies.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

namespace vidora::testing {

// The standard output of a shell command.
inline std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[65536];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
            output.append(chunk, got);
        }
        ::pclose(pipe);
    }
    return output;
}

// ffprobe's view of a movie: one key=value map per section ([STREAM]..., then [FORMAT]).
inline std::vector<std::map<std::string, std::string>> probe(const std::string& path) {
    std::istringstream lines(
        run("ffprobe -v error -show_entries stream=codec_name,codec_tag_string,width,height,"
            "sample_rate,channels:format=duration -of default '" +
            path + "'"));
    std::vector<std::map<std::string, std::string>> sections;
    for (std::string line; std::getline(lines, line);) {
        if (line == "[STREAM]" || line == "[FORMAT]") {
            sections.emplace_back();
        } else if (const auto equals = line.find('='); equals != std::string::npos && !sections.empty()) {
            sections.back()[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return sections;
}

// One audio track decoded to 48 kHz mono 16-bit samples.
inline std::vector<std::int16_t> decodedAudio(const std::string& path, int stream) {
    const auto bytes = run("ffmpeg -v error -i '" + path + "' -map 0:" + std::to_string(stream) +
                           " -f s16le -ac 1 -ar 48000 -");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

}  // namespace vidora::testing
