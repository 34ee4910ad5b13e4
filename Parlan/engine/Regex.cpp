// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Regex.h"

namespace parlan {

Regex::Regex(std::string_view literal) {
    if (literal.size() >= 2 && literal.front() == '/' && literal.back() == '/') {
        literal = literal.substr(1, literal.size() - 2);
    }
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    // Lines are repaired to valid UTF-8 before they get here; MATCH_INVALID_UTF keeps any slip harmless.
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(literal.data()), literal.size(),
                              PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &error, &errorOffset,
                              nullptr));
    if (code_) {
        pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);  // without JIT the interpreter still matches
    }
}

std::optional<Regex::Match> Regex::search(std::string_view subject) const {
    if (!code_) {
        return std::nullopt;
    }
    struct MatchDataDeleter {
        void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    };
    thread_local std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create(maxGroups + 1, nullptr));
    const int result = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                                   0, 0, data.get(), nullptr);
    if (result < 0) {
        return std::nullopt;
    }
    Match match;
    match.subject_ = subject;
    std::uint32_t captured = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &captured);
    match.count_ = std::min<std::size_t>(captured, maxGroups);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    const std::size_t pairs = result == 0 ? maxGroups + 1 : static_cast<std::size_t>(result);
    for (std::size_t i = 0; i <= match.count_; ++i) {
        if (i < pairs && ovector[2 * i] != PCRE2_UNSET) {
            match.spans_[i] = {ovector[2 * i], ovector[2 * i + 1]};
        } else {
            match.spans_[i] = {0, 0};
        }
    }
    return match;
}

std::string_view Regex::Match::group(std::size_t index) const {
    if (index > count_) {
        return {};
    }
    const auto [begin, end] = spans_[index];
    return subject_.substr(begin, end - begin);
}

}  // namespace parlan
