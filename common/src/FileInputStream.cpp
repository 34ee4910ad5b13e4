// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/FileInputStream.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/Text.h"

namespace tavrin {

void FileInputStream::Closer::operator()(std::FILE* file) const {
    std::fclose(file);
}

std::optional<FileInputStream> FileInputStream::open(const std::string& path, std::int64_t bufferCapacity,
                                                     Lock lock) {
    // fgets needs room for one byte and its terminator, or it would read nothing forever.
    if (path.empty() || bufferCapacity < 2) {
        return std::nullopt;
    }
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "r"));
    if (!file) {
        return std::nullopt;
    }
    struct stat attributes {};
    const std::int64_t fileSize = ::stat(path.c_str(), &attributes) == 0 ? attributes.st_size : 0;
    if (fileSize < 0) {
        return std::nullopt;
    }
    int fd = -1;
    if (lock == Lock::shared) {
        fd = ::fileno(file.get());
        if (fd < 0 || ::flock(fd, LOCK_SH) != 0) {
            return std::nullopt;
        }
    }
    return FileInputStream(std::move(file), fd, fileSize, bufferCapacity);
}

FileInputStream::FileInputStream(std::unique_ptr<std::FILE, Closer> file, int fd, std::int64_t fileSize,
                                 std::int64_t bufferCapacity)
    : fp_(std::move(file)),
      fd_(fd),
      fileSize_(fileSize),
      buf_(static_cast<std::size_t>(bufferCapacity), '\0') {}

FileInputStream::FileInputStream(FileInputStream&& other) noexcept
    : fp_(std::move(other.fp_)),
      fd_(std::exchange(other.fd_, -1)),
      isEOF_(other.isEOF_),
      fileSize_(other.fileSize_),
      buf_(std::move(other.buf_)) {}

FileInputStream& FileInputStream::operator=(FileInputStream&& other) noexcept {
    if (this != &other) {
        close();
        fp_ = std::move(other.fp_);
        fd_ = std::exchange(other.fd_, -1);
        isEOF_ = other.isEOF_;
        fileSize_ = other.fileSize_;
        buf_ = std::move(other.buf_);
    }
    return *this;
}

FileInputStream::~FileInputStream() {
    close();
}

std::optional<std::string_view> FileInputStream::readPiece() {
    if (isEOF_ || !fp_ || buf_.size() < 2) {
        return std::nullopt;
    }
    const std::int64_t before = ::ftello(fp_.get());
    // glibc keeps end-of-file sticky; clearing it lets a later read see what was appended meanwhile.
    std::clearerr(fp_.get());
    const int limit = static_cast<int>(std::min<std::size_t>(buf_.size(), 1U << 30));
    if (std::fgets(buf_.data(), limit, fp_.get()) == nullptr) {
        return std::nullopt;
    }
    const std::int64_t after = ::ftello(fp_.get());
    // The position tells the piece's length even when it holds NUL bytes.
    const std::size_t length =
        before >= 0 && after >= before ? static_cast<std::size_t>(after - before) : std::strlen(buf_.data());
    return std::string_view(buf_.data(), std::min(length, buf_.size() - 1));
}

std::optional<std::string> FileInputStream::readLine() {
    const auto piece = readPiece();
    if (!piece) {
        return std::nullopt;
    }
    return decodeText(*piece);
}

std::optional<std::string> FileInputStream::readBlock(std::size_t count) {
    if (!fp_) {
        return std::nullopt;
    }
    std::clearerr(fp_.get());
    const std::size_t bytes = std::fread(buf_.data(), 1, count, fp_.get());
    if (bytes < 1) {
        isEOF_ = true;
        return std::nullopt;
    }
    return decodeText(std::string_view(buf_.data(), bytes));
}

std::optional<std::string> FileInputStream::read(std::int64_t size) {
    if (isEOF_) {
        return std::nullopt;
    }
    if (size > capacity) {
        buf_.assign(static_cast<std::size_t>(size), '\0');
    }
    return readBlock(buf_.size());
}

std::optional<std::string> FileInputStream::readAll() {
    if (isEOF_) {
        return std::nullopt;
    }
    buf_.assign(static_cast<std::size_t>(fileSize_ + capacity), '\0');
    return readBlock(buf_.size());
}

bool FileInputStream::seekToStart(std::int64_t offset) {
    return fp_ && ::fseeko(fp_.get(), offset, SEEK_SET) == 0;
}

bool FileInputStream::seek(std::int64_t offset) {
    return fp_ && ::fseeko(fp_.get(), offset, SEEK_CUR) == 0;
}

bool FileInputStream::seekToEnd(std::int64_t offset) {
    return fp_ && ::fseeko(fp_.get(), offset, SEEK_END) == 0;
}

std::int64_t FileInputStream::tell() const {
    return fp_ ? ::ftello(fp_.get()) : -1;
}

void FileInputStream::close() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        fd_ = -1;
    }
    fp_.reset();
    buf_.clear();
    buf_.shrink_to_fit();
}

}  // namespace tavrin
