// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/LogSession.h"

#include <algorithm>

#include "log/BurstBuffer.h"
#include "log/CombatLogFile.h"

namespace fakegame {

using std::chrono::milliseconds;

LogSession::LogSession(SessionSettings settings, tavrin::Clock& clock)
    : settings_(std::move(settings)), clock_(clock) {
    if (!settings_.logsFolder.empty() && settings_.logsFolder.back() != '/') {
        settings_.logsFolder += '/';
    }
    if (!(settings_.speed > 0.0)) {
        settings_.speed = 1.0;
    }
}

std::vector<std::string> LogSession::run(LineSource& source, std::stop_token stop) {
    std::vector<std::string> files;
    const Date start = clock_.now();
    auto file = CombatLogFile::open(settings_.logsFolder + logFileName(start));
    if (!file) {
        return files;
    }
    files.push_back(file->path());

    std::optional<BurstBuffer> buffer;
    if (settings_.bursts) {
        buffer.emplace(settings_.bursts->seed, settings_.bursts->averageBytes);
    }
    Date heldSince = start;
    const auto holding = [&] { return buffer && buffer->holding(); };
    const auto flush = [&] {
        if (holding()) {
            file->write(buffer->drain());
        }
    };

    std::size_t lines = 0;
    while (!stop.stop_requested()) {
        auto line = source.next();
        if (!line) {
            break;
        }
        const auto offset = std::chrono::duration<double, std::milli>(
            static_cast<double>(line->offset.count()) / settings_.speed);
        const Date due = start + std::chrono::duration_cast<Date::duration>(offset);
        while (!stop.stop_requested()) {
            const Date now = clock_.now();
            if (holding() && now >= heldSince + settings_.bursts->holdBack) {
                flush();
            }
            if (now >= due) {
                break;
            }
            const Date wake = holding() ? std::min(due, heldSince + settings_.bursts->holdBack) : due;
            clock_.sleepFor(std::chrono::ceil<milliseconds>(wake - now));
        }
        if (stop.stop_requested()) {
            break;
        }

        std::string text = line->shape ? formatStamp(due, *line->shape) + line->afterStamp : line->afterStamp;
        text += '\n';
        if (buffer) {
            const bool wasHolding = buffer->holding();
            const auto bursts = buffer->add(text);
            for (const auto& burst : bursts) {
                file->write(burst);
            }
            if (!bursts.empty() || !wasHolding) {
                heldSince = clock_.now();
            }
        } else {
            file->write(text);
        }
        ++lines;

        if (settings_.truncateAfterLines > 0 && lines % settings_.truncateAfterLines == 0) {
            flush();
            // Lets a follower read what the file held before it is gone.
            if (settings_.truncatePause.count() > 0) {
                clock_.sleepFor(settings_.truncatePause);
            }
            file->truncate();
        }
        if (settings_.newFileAfterLines > 0 && lines % settings_.newFileAfterLines == 0) {
            flush();
            // Names count seconds: the next file waits for a second of its own, as it would in the game.
            const Date now = clock_.now();
            if (settings_.logsFolder + logFileName(now) == file->path()) {
                clock_.sleepFor(std::chrono::ceil<milliseconds>(
                    std::chrono::floor<std::chrono::seconds>(now) + std::chrono::seconds(1) - now));
            }
            if (auto next = CombatLogFile::open(settings_.logsFolder + logFileName(clock_.now()))) {
                file = std::move(next);
                files.push_back(file->path());
            }
        }
    }
    flush();
    return files;
}

}  // namespace fakegame
