// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace parlan {

// A pattern of the proxy: PCRE2 in UTF mode with Unicode properties, so \w, \d and \s cover every
// script; JIT-compiled; searched for its leftmost match with greedy quantifiers. Immutable after
// construction and safe to search from several threads.
class Regex {
public:
    static constexpr std::size_t maxGroups = 8;

    // The groups of one match as views into the searched text; a group that took no part is empty.
    class Match {
    public:
        std::string_view group(std::size_t index) const;
        std::size_t begin(std::size_t index) const { return spans_[index].first; }
        std::size_t groupCount() const { return count_; }

    private:
        friend class Regex;
        std::string_view subject_;
        std::array<std::pair<std::size_t, std::size_t>, maxGroups + 1> spans_{};
        std::size_t count_ = 0;
    };

    // From the pattern's literal form, "/pattern/".
    explicit Regex(std::string_view literal);

    std::optional<Match> search(std::string_view subject) const;
    bool isValid() const { return code_ != nullptr; }

private:
    struct CodeDeleter {
        void operator()(pcre2_code* code) const { pcre2_code_free(code); }
    };
    std::unique_ptr<pcre2_code, CodeDeleter> code_;
};

}  // namespace parlan
