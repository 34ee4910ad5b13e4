// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Clock.h"
#include "common/FileInputStream.h"
#include "engine/LogParser.h"

namespace parlan {

// Follows the game's newest combat log: on each pass reads what was appended since the last one and
// hands each recent line to the parser. Keeps only a remembered position between passes; no file
// stays open. All calls come from the polling thread.
class LogFiles {
public:
    // A combat-log file: its path, the seconds since its last modification (to the millisecond,
    // positive for the past), its size, and its inode so a replaced file is told apart.
    struct LogFile {
        std::string path;
        double diff = 0.0;
        std::int64_t size = 0;
        std::uint64_t inode = 0;
    };

    // Where the last pass stopped: the file, the position after the last piece handed on, and the
    // last bytes before that position, which tell whether the file was rewritten in the meantime.
    struct FilePosition {
        std::optional<std::string> path;
        std::int64_t offset = 0;
        std::uint64_t inode = 0;
        std::string tail;

        bool isModifed(const std::optional<LogFile>& file) const;
        void set(const std::string& newPath, std::int64_t newOffset, std::uint64_t newInode,
                 std::string newTail);
    };

    LogFiles(LogParser& parser, tavrin::Clock& clock);

    // The live combat log of the folder: the greatest "WoWCombatLog*.txt" name, if it is not empty
    // and was modified less than 10 seconds ago.
    std::optional<LogFile> getRecentFile(const std::string& folder) const;
    // Reads and dispatches the file's new lines; a last line without a line end is left for the next pass.
    void onFileModified(const std::optional<LogFile>& file);
    // A finished log read as one pass from its start: every line, the last one even without a line end.
    void onFileComplete(const std::string& path);
    // Dispatches one line: trimmed, its head parsed, its time converted and its age tested.
    void onReadLine(std::string_view line);
    // No live log was read: hands the time of the last read to the idle check.
    void onModifiedFileEmpty();

    // Told the date of every line before its age test (the replay's clock follows the lines).
    void setLineDateObserver(std::function<void(Date)> observer) { lineDateObserver_ = std::move(observer); }

    LogParser& parser() { return parser_; }
    const FilePosition& cache() const { return cache_; }
    Date recentRead() const { return recentRead_; }

private:
    // Dispatches the pieces from `start` to the end; the position after the last one handed on, and
    // the last bytes handed on in `tail`.
    std::int64_t readPass(tavrin::FileInputStream& stream, std::int64_t start, bool midLine, bool complete,
                          std::string& tail);
    // The remembered file still holds, just before the remembered offset, the bytes handed on last.
    bool continuesRemembered(tavrin::FileInputStream& stream) const;
    // The lines the game appended to the remembered file before it moved on to a new one.
    void finishRemembered();
    // Leaves the remembered file for `path`, taking up where that one was left if it was followed before.
    void switchTo(const std::string& path);
    void dispatchPiece(std::string_view piece);

    LogParser& parser_;
    tavrin::Clock& clock_;
    FilePosition cache_;
    // The last few logs left, where they were left: going back to one when the newest disappears
    // goes on from there instead of playing its matches again.
    std::vector<FilePosition> leftBehind_;
    Date recentRead_;
    bool firstLine_ = true;
    std::function<void(Date)> lineDateObserver_;
};

}  // namespace parlan
