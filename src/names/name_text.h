// Writing a field of the name record: valid UTF-8 (an invalid byte becomes
// U+FFFD, a control character a space), NUL-terminated, cut at a character
// boundary to fit.
#pragma once

#include <cstddef>
#include <string_view>

namespace oxnames {

class field_writer {
public:
    field_writer(char *out, size_t size) : out_(out), size_(size) {
        if (size_) out_[0] = 0;
    }
    // Appends text; false once something did not fit.
    bool append(std::string_view text);
    size_t length() const { return used_; }

private:
    bool put(std::string_view bytes);
    char *out_;
    size_t size_;
    size_t used_ = 0;
    bool full_ = false;
};

// The length of the valid UTF-8 sequence at text[at], or 0.
size_t utf8_sequence(std::string_view text, size_t at);

}  // namespace oxnames
