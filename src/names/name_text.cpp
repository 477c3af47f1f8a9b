#include "name_text.h"

#include <cstdint>
#include <cstring>

namespace oxnames {

size_t utf8_sequence(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(at);
    if (b0 < 0x80) return 1;
    size_t n;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) n = 2;
    else if (b0 == 0xE0) n = 3, low = 0xA0;
    else if (b0 >= 0xE1 && b0 <= 0xEC) n = 3;
    else if (b0 == 0xED) n = 3, high = 0x9F;
    else if (b0 >= 0xEE && b0 <= 0xEF) n = 3;
    else if (b0 == 0xF0) n = 4, low = 0x90;
    else if (b0 >= 0xF1 && b0 <= 0xF3) n = 4;
    else if (b0 == 0xF4) n = 4, high = 0x8F;
    else return 0;
    if (at + n > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return n;
}

namespace {

// Where the run of printable ASCII (0x20 to 0x7E) from text[at] ends; eight
// bytes at a time.
size_t printable_run(std::string_view text, size_t at) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    while (at + 8 <= text.size()) {
        uint64_t x;
        std::memcpy(&x, text.data() + at, 8);
        const uint64_t below_space = (x - 0x20 * kOnes) & ~x;  // high bit: a byte < 0x20 (or >= 0x80)
        const uint64_t del = x ^ (0x7F * kOnes);
        if ((x | below_space | ((del - kOnes) & ~del)) & kHighs) break;
        at += 8;
    }
    while (at < text.size() && static_cast<unsigned char>(text[at]) >= 0x20 && static_cast<unsigned char>(text[at]) < 0x7F)
        ++at;
    return at;
}

}  // namespace

bool field_writer::put(std::string_view bytes) {
    if (full_ || used_ + bytes.size() + 1 > size_) {
        full_ = true;
        return false;
    }
    std::memcpy(out_ + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    out_[used_] = 0;
    return true;
}

bool field_writer::append(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        // A run of printable ASCII goes in one copy.
        const size_t run = printable_run(text, at);
        if (run > at) {
            const size_t room = size_ > used_ + 1 ? size_ - used_ - 1 : 0;
            if (run - at > room) {  // ASCII may be cut anywhere
                put(text.substr(at, room));
                full_ = true;
                return false;
            }
            put(text.substr(at, run - at));
            at = run;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == 0x7F) {  // a control character reads as a space
            if (!put(" ")) return false;
            ++at;
            continue;
        }
        const size_t n = utf8_sequence(text, at);
        if (n == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {  // C1 controls too
            if (!put(" ")) return false;
            at += 2;
            continue;
        }
        if (!put(n ? text.substr(at, n) : std::string_view("\xEF\xBF\xBD"))) return false;
        at += n ? n : 1;
    }
    return !full_;
}

}  // namespace oxnames
