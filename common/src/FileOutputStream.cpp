// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/FileOutputStream.h"

namespace tavrin {

void FileOutputStream::Closer::operator()(std::FILE* file) const {
    std::fclose(file);
}

std::optional<FileOutputStream> FileOutputStream::open(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "a+"));
    if (!file) {
        return std::nullopt;
    }
    return FileOutputStream(std::move(file));
}

void FileOutputStream::write(std::string_view text) {
    if (fp_ && !text.empty()) {
        std::fwrite(text.data(), 1, text.size(), fp_.get());
    }
}

void FileOutputStream::close() {
    fp_.reset();
}

void appendToFile(const std::string& path, std::string_view text) {
    if (auto stream = FileOutputStream::open(path)) {
        stream->write(text);
        stream->close();
    }
}

}  // namespace tavrin
