// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Options.h"

#include <charconv>
#include <cmath>
#include <type_traits>
#include <vector>

namespace fakegame {
namespace {

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string_view usageText() {
    return R"(usage: fakegame --logs FOLDER [options]
Stands in for World of Warcraft: writes a combat log into FOLDER and shows a window.

  --logs FOLDER              the game's Logs folder (created when missing)
  --replay FILE              replay a recorded combat log, its time stamps moved to the present
  --speed N                  play N times faster, the stamps N times closer (default 1)
  --match                    play the built-in 2v2 arena match (the default)
  --match-seconds S          length of one match, at least 2 (default 60)
  --matches K                matches in a row (default 1; 0: without end)
  --lobby-seconds S          time in the city before the first match (default 1)
  --bursts                   write in bursts that may cut a line in two
  --burst-bytes N            average burst length (default 512)
  --seed N                   seed for bursts and the match's details (default 1)
  --new-file-after-lines N   go on in a new log file every N lines
  --truncate-after-lines N   empty the log file every N lines
  --truncate-pause-ms N      stop writing for N ms before each emptying (default 0)
  --tone                     play a 440 Hz tone when a sound server runs; SIGUSR2 pauses it (its
                             stream corked, as Wine pauses a game's sound) and plays it again
  --beeps                    the tone (implies --tone) sounds from each whole second of the system
                             clock for (the second mod 4 + 1) tenths of a second, as it is heard
  --helper COMMAND           run the shell command as a child process on each SIGUSR1, as Wine starts
                             helpers (ended with the game)
  --no-window                no window even when DISPLAY is set
  --fullscreen               ask the window manager for the whole screen
  --render-fps N             render as a game does and measure it: N frames a second, 0 as fast as it
                             can; each SIGRTMIN prints the frame rate and the 1 % low since the last one
  --frame-cost-ms MS         processor time each rendered frame takes before it is drawn (default 0)
  --exit-when-done           quit once the log is written (default: stay until closed or signalled)
  --help                     this text
)";
}

ParsedOptions parseOptions(int argc, const char* const* argv) {
    Options options;
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view name = arguments[i];
        const auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= arguments.size()) {
                return std::nullopt;
            }
            return arguments[++i];
        };
        const auto missing = [&] {
            return ParsedOptions{std::nullopt, std::string(name) + " needs a value"};
        };
        const auto invalid = [&](std::string_view text) {
            return ParsedOptions{std::nullopt,
                                 "invalid value for " + std::string(name) + ": " + std::string(text)};
        };
        const auto count = [&](auto& field, std::uint64_t minimum) -> std::optional<ParsedOptions> {
            const auto text = value();
            if (!text) {
                return missing();
            }
            const auto number = parseNumber<std::uint64_t>(*text);
            if (!number || *number < minimum) {
                return invalid(*text);
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(*number);
            return std::nullopt;
        };
        std::optional<ParsedOptions> failure;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--logs" || name == "--replay" || name == "--helper") {
            const auto text = value();
            if (!text) {
                return missing();
            }
            (name == "--logs"     ? options.logsFolder
             : name == "--replay" ? options.replayPath.emplace()
                                  : options.helper.emplace()) = std::string(*text);
        } else if (name == "--render-fps") {
            failure = count(options.renderRate.emplace(), 0);
        } else if (name == "--frame-cost-ms") {
            const auto text = value();
            if (!text) {
                return missing();
            }
            const auto number = parseNumber<double>(*text);
            if (!number || !std::isfinite(*number) || *number < 0 || *number > 1000) {
                return invalid(*text);
            }
            options.frameCost = std::chrono::microseconds(std::llround(*number * 1000.0));
        } else if (name == "--speed" || name == "--match-seconds" || name == "--lobby-seconds") {
            const auto text = value();
            if (!text) {
                return missing();
            }
            const auto number = parseNumber<double>(*text);
            const double minimum = name == "--match-seconds" ? 2.0 : 0.0;
            if (!number || !std::isfinite(*number) || *number <= 0.0 || *number < minimum) {
                return invalid(*text);
            }
            if (name == "--speed") {
                options.speed = *number;
            } else if (name == "--lobby-seconds") {
                options.lobbyLength = std::chrono::milliseconds(std::llround(*number * 1000.0));
            } else {
                options.matchLength = std::chrono::milliseconds(std::llround(*number * 1000.0));
            }
        } else if (name == "--match") {
            options.replayPath.reset();
        } else if (name == "--matches") {
            failure = count(options.matches, 0);
        } else if (name == "--burst-bytes") {
            failure = count(options.burstBytes, 1);
        } else if (name == "--seed") {
            failure = count(options.seed, 0);
        } else if (name == "--new-file-after-lines") {
            failure = count(options.newFileAfterLines, 1);
        } else if (name == "--truncate-after-lines") {
            failure = count(options.truncateAfterLines, 1);
        } else if (name == "--truncate-pause-ms") {
            failure = count(options.truncatePauseMilliseconds, 0);
        } else if (name == "--bursts") {
            options.bursts = true;
        } else if (name == "--tone" || name == "--beeps") {
            options.tone = true;
            options.beeps = options.beeps || name == "--beeps";
        } else if (name == "--no-window") {
            options.window = false;
        } else if (name == "--fullscreen") {
            options.fullscreen = true;
        } else if (name == "--exit-when-done") {
            options.exitWhenDone = true;
        } else {
            return {std::nullopt, "unknown option: " + std::string(name)};
        }
        if (failure) {
            return *failure;
        }
    }
    if (!options.help && options.logsFolder.empty()) {
        return {std::nullopt, "--logs is required"};
    }
    return {options, {}};
}

}  // namespace fakegame
