// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

// Appends text to a file, creating it when missing. Errors are dropped: a lost write loses that text only.
class FileOutputStream {
public:
    static std::optional<FileOutputStream> open(const std::string& path);

    // Writes the bytes as they are: no terminator, no newline, no flush.
    void write(std::string_view text);
    void close();

private:
    struct Closer {
        void operator()(std::FILE* file) const;
    };
    explicit FileOutputStream(std::unique_ptr<std::FILE, Closer> file) : fp_(std::move(file)) {}

    std::unique_ptr<std::FILE, Closer> fp_;
};

// Opens, writes once and closes: how every text file of the proxy is written.
void appendToFile(const std::string& path, std::string_view text);

}  // namespace tavrin
