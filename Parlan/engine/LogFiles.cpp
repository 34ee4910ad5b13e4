// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LogFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>

#include "common/FileInputStream.h"
#include "common/Text.h"
#include "engine/Thresholds.h"

namespace parlan {
namespace {

constexpr std::string_view logPrefix = "WoWCombatLog";
constexpr std::string_view logSuffix = ".txt";

// A piece ends a line when it holds the line feed or fills the buffer; anything else is a line the
// game is still writing.
bool isWholePiece(std::string_view piece) {
    return piece.ends_with('\n') ||
           static_cast<std::int64_t>(piece.size()) >= tavrin::FileInputStream::capacity - 1;
}

// The last bytes handed on; enough to tell a rewritten file from the one that was read.
void keepTail(std::string& tail, std::string_view piece) {
    constexpr std::size_t length = 64;
    if (piece.size() >= length) {
        tail.assign(piece.substr(piece.size() - length));
        return;
    }
    tail.append(piece);
    if (tail.size() > length) {
        tail.erase(0, tail.size() - length);
    }
}

// The date and time in a log's name (WoWCombatLog-MMDDYY_HHMMSS.txt) reordered as YYMMDDHHMMSS, which
// sorts as the times do (the names themselves sort wrongly across a new year); nothing for other names.
std::optional<std::string> nameStamp(std::string_view name) {
    constexpr std::string_view shape = "WoWCombatLog-MMDDYY_HHMMSS.txt";
    if (name.size() != shape.size() || !name.starts_with("WoWCombatLog-") || name[19] != '_' ||
        !name.ends_with(logSuffix)) {
        return std::nullopt;
    }
    for (std::size_t at = 13; at < 26; ++at) {
        if (at != 19 && !std::isdigit(static_cast<unsigned char>(name[at]))) {
            return std::nullopt;
        }
    }
    const std::string_view digits = name.substr(13);
    return std::string(digits.substr(4, 2)) + std::string(digits.substr(0, 4)) +
           std::string(digits.substr(7, 6));
}

// A name stamp as the local time it stands for, the year as 20YY.
Date stampTime(std::string_view stamp) {
    const auto number = [&](std::size_t at) { return (stamp[at] - '0') * 10 + (stamp[at + 1] - '0'); };
    std::tm fields{};
    fields.tm_year = 100 + number(0);
    fields.tm_mon = number(2) - 1;
    fields.tm_mday = number(4);
    fields.tm_hour = number(6);
    fields.tm_min = number(8);
    fields.tm_sec = number(10);
    fields.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

}  // namespace

bool LogFiles::FilePosition::isModifed(const std::optional<LogFile>& file) const {
    return !(path && file && *path == file->path && offset == file->size && inode == file->inode);
}

void LogFiles::FilePosition::set(const std::string& newPath, std::int64_t newOffset, std::uint64_t newInode,
                                 std::string newTail) {
    path = newPath;
    offset = newOffset;
    inode = newInode;
    tail = std::move(newTail);
}

LogFiles::LogFiles(LogParser& parser, tavrin::Clock& clock)
    : parser_(parser), clock_(clock), recentRead_(clock.now()) {}

std::optional<LogFiles::LogFile> LogFiles::getRecentFile(const std::string& folder) const {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) {
        return std::nullopt;
    }
    // The latest begun log: the greatest stamp among the dated names, the latest modified among the others
    // (a legacy WoWCombatLog.txt, which would sort after every dated name); between the two, the later.
    std::string dated;
    std::string datedStamp;
    std::string undated;
    std::filesystem::file_time_type undatedModified{};
    // Stepping with an error code: a folder that fails mid-listing ends the listing, never the pass.
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        if (error) {
            return std::nullopt;
        }
        std::string name = entries->path().filename().string();
        if (!name.starts_with(logPrefix) || !name.ends_with(logSuffix)) {
            continue;
        }
        if (auto stamp = nameStamp(name)) {
            if (*stamp > datedStamp) {
                dated = std::move(name);
                datedStamp = std::move(*stamp);
            }
        } else if (const auto modified = entries->last_write_time(error); !error) {
            if (undated.empty() || modified > undatedModified) {
                undated = std::move(name);
                undatedModified = modified;
            }
        }
    }
    std::string newest = dated;
    if (!undated.empty() &&
        (dated.empty() || std::chrono::file_clock::to_sys(undatedModified) > stampTime(datedStamp))) {
        newest = undated;
    }
    if (newest.empty()) {
        return std::nullopt;
    }
    LogFile file;
    file.path = folder + "/" + newest;
    struct stat attributes {};
    if (::stat(file.path.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode)) {
        return std::nullopt;  // the placeholder record: never live
    }
    const Date modified{
        std::chrono::duration_cast<Date::duration>(std::chrono::seconds(attributes.st_mtim.tv_sec) +
                                                   std::chrono::nanoseconds(attributes.st_mtim.tv_nsec))};
    file.diff = tavrin::ageInSeconds(modified, clock_.now());
    file.size = attributes.st_size;
    file.inode = attributes.st_ino;
    if (file.size >= 1 && file.diff < fileDelay) {
        return file;
    }
    return std::nullopt;
}

void LogFiles::onFileModified(const std::optional<LogFile>& file) {
    if (!file || !cache_.isModifed(file)) {
        return;
    }
    auto stream = tavrin::FileInputStream::open(file->path, tavrin::FileInputStream::capacity);
    if (!stream) {
        return;
    }
    if (cache_.path && *cache_.path != file->path) {
        finishRemembered();
        switchTo(file->path);
    }
    // Go on where the last pass stopped only in the same file, neither shrunk nor rewritten; a new
    // or replaced log is read from its start, whose lines carry the version and often the arena's
    // zone change.
    const bool sameFile = cache_.path == file->path && cache_.inode == file->inode &&
                          cache_.offset <= file->size && continuesRemembered(*stream);
    std::int64_t start = sameFile ? cache_.offset : 0;
    const bool limited = file->size - start > maxSize;
    if (limited) {
        start = file->size - maxSize;
    }
    if (firstLine_) {
        firstLine_ = false;
        // Only when the pass itself will not read the file's first line.
        if (start > 0 && stream->seekToStart(0)) {
            if (const auto piece = stream->readPiece()) {
                dispatchPiece(*piece);
            }
        }
    }
    std::string tail = sameFile && !limited ? cache_.tail : std::string();
    const std::int64_t position = readPass(*stream, start, limited, false, tail);
    if (position < 0) {
        cache_.set(file->path, stream->size(), file->inode, {});
        return;
    }
    recentRead_ = clock_.now();
    cache_.set(file->path, position, file->inode, std::move(tail));
}

bool LogFiles::continuesRemembered(tavrin::FileInputStream& stream) const {
    const auto length = static_cast<std::int64_t>(cache_.tail.size());
    if (length == 0) {
        return true;
    }
    if (!stream.seekToStart(cache_.offset - length)) {
        return false;
    }
    std::string found;
    while (static_cast<std::int64_t>(found.size()) < length) {
        const auto piece = stream.readPiece();
        if (!piece) {
            return false;
        }
        found.append(piece->substr(0, static_cast<std::size_t>(length) - found.size()));
    }
    return found == cache_.tail;
}

void LogFiles::finishRemembered() {
    struct stat attributes {};
    if (::stat(cache_.path->c_str(), &attributes) != 0 || attributes.st_ino != cache_.inode ||
        attributes.st_size <= cache_.offset || attributes.st_size - cache_.offset > maxSize) {
        return;
    }
    auto stream = tavrin::FileInputStream::open(*cache_.path, tavrin::FileInputStream::capacity);
    if (stream && continuesRemembered(*stream)) {
        // The game has moved on: what is there is all there will be, a last line without its end too.
        std::string tail = cache_.tail;
        const std::int64_t position = readPass(*stream, cache_.offset, false, true, tail);
        if (position >= 0) {
            cache_.set(*cache_.path, position, cache_.inode, std::move(tail));
        }
    }
}

void LogFiles::switchTo(const std::string& path) {
    constexpr std::size_t kept = 8;
    std::erase_if(leftBehind_, [this](const FilePosition& left) { return left.path == cache_.path; });
    leftBehind_.push_back(std::move(cache_));
    if (leftBehind_.size() > kept) {
        leftBehind_.erase(leftBehind_.begin());
    }
    cache_ = {};
    const auto found = std::find_if(leftBehind_.begin(), leftBehind_.end(),
                                    [&path](const FilePosition& left) { return left.path == path; });
    if (found != leftBehind_.end()) {
        cache_ = std::move(*found);
        leftBehind_.erase(found);
    }
}

void LogFiles::onFileComplete(const std::string& path) {
    auto stream = tavrin::FileInputStream::open(path, tavrin::FileInputStream::capacity);
    if (!stream) {
        return;
    }
    firstLine_ = false;
    std::string tail;
    if (readPass(*stream, 0, false, true, tail) >= 0) {
        recentRead_ = clock_.now();
    }
}

std::int64_t LogFiles::readPass(tavrin::FileInputStream& stream, std::int64_t start, bool midLine,
                                bool complete, std::string& tail) {
    // Starting in the middle of a line, skip to the next one: from the byte before `start` on, drop
    // pieces up to the first line feed.
    std::int64_t position = midLine ? start - 1 : start;
    if (!stream.seekToStart(position)) {
        return -1;
    }
    if (midLine) {
        while (const auto piece = stream.readPiece()) {
            if (!isWholePiece(*piece)) {
                break;  // the line is still being written: resume at its start next time
            }
            position += static_cast<std::int64_t>(piece->size());
            if (piece->ends_with('\n')) {
                break;
            }
        }
        stream.seekToStart(position);
    }
    while (const auto piece = stream.readPiece()) {
        if (!complete && !isWholePiece(*piece)) {
            break;  // a line still being written is read whole on a later pass
        }
        position += static_cast<std::int64_t>(piece->size());
        keepTail(tail, *piece);
        dispatchPiece(*piece);
    }
    return position;
}

void LogFiles::dispatchPiece(std::string_view piece) {
    onReadLine(tavrin::decodeText(piece));
}

void LogFiles::onReadLine(std::string_view line) {
    const auto head = parser_.head(tavrin::trim(line));
    if (!head) {
        return;
    }
    const auto date = tavrin::dateTimeDot(head->time);
    if (!date) {
        return;
    }
    if (lineDateObserver_) {
        lineDateObserver_(*date);
    }
    if (tavrin::ageInSeconds(*date, clock_.now()) < dataDelay || head->ignore) {
        parser_.body(*head);
    }
}

void LogFiles::onModifiedFileEmpty() {
    parser_.onEventIdle(recentRead_);
}

}  // namespace parlan
