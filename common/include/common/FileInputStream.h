// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// Reads a text file through one reusable byte buffer. A stream is opened, read and closed within one
// operation by one thread; it is moved, never copied.
class FileInputStream {
public:
    // The proxy reads without a lock; the recorder holds a shared flock while the file is open, which
    // only waits for an exclusive lock some other process may hold.
    enum class Lock { none, shared };

    static constexpr std::int64_t capacity = 4096;

    // No stream for an empty path, a file that cannot be opened, or a failing lock.
    static std::optional<FileInputStream> open(const std::string& path,
                                               std::int64_t bufferCapacity = capacity,
                                               Lock lock = Lock::none);

    FileInputStream(FileInputStream&& other) noexcept;
    FileInputStream& operator=(FileInputStream&& other) noexcept;
    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;
    ~FileInputStream();

    // The size stat() gave when the stream was opened; never updated.
    std::int64_t size() const { return fileSize_; }
    bool isEOF() const { return isEOF_; }

    // The next piece: up to and including a newline, or capacity - 1 bytes. Cut at a NUL byte,
    // ill-formed UTF-8 replaced by U+FFFD. Nothing at the end of the data; never sets isEOF.
    std::optional<std::string> readLine();
    // The same piece as raw bytes, NULs included; valid until the next read.
    std::optional<std::string_view> readPiece();
    // Up to the buffer's count bytes (grown first when size > 4096). Nothing read sets isEOF.
    std::optional<std::string> read(std::int64_t size);
    // The rest of the file, at most size() + 4096 bytes.
    std::optional<std::string> readAll();

    bool seekToStart(std::int64_t offset);
    bool seek(std::int64_t offset);
    bool seekToEnd(std::int64_t offset);
    std::int64_t tell() const;

    void close();

private:
    struct Closer {
        void operator()(std::FILE* file) const;
    };

    FileInputStream(std::unique_ptr<std::FILE, Closer> file, int fd, std::int64_t fileSize,
                    std::int64_t bufferCapacity);
    std::optional<std::string> readBlock(std::size_t count);

    std::unique_ptr<std::FILE, Closer> fp_;
    int fd_ = -1;  // the locked descriptor, -1 without a lock
    bool isEOF_ = false;
    std::int64_t fileSize_ = 0;
    std::vector<char> buf_;
};

}  // namespace tavrin
