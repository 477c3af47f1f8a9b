// Writing JSON Lines by hand: one reused string per line, no tree.
#include "json_line.h"

#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

// Appends text as a JSON string; bytes that are not UTF-8 become U+FFFD.
void append_json_string(std::string &out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        // A run of plain ASCII goes in one append.
        size_t run = i;
        while (run < text.size()) {
            const auto b = static_cast<unsigned char>(text[run]);
            if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\') break;
            ++run;
        }
        if (run > i) {
            out.append(text.substr(i, run - i));
            i = run - 1;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            utf8proc_int32_t cp = 0;
            const utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(text.data() + i),
                                                        static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
            if (n <= 0) {
                out += "\xEF\xBF\xBD";
                continue;
            }
            out.append(text.substr(i, static_cast<size_t>(n)));
            i += static_cast<size_t>(n) - 1;
        }
    }
    out += '"';
}

void json_key(std::string &out, const char *name) {
    out += out.back() == '{' ? "\"" : ",\"";
    out += name;
    out += "\":";
}

void append_int(std::string &out, int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

namespace {

bool is_utf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t *>(text.data() + i),
                                                    static_cast<utf8proc_ssize_t>(text.size() - i), &cp);
        if (n <= 0) return false;
        i += static_cast<size_t>(n);
    }
    return true;
}

void append_base64(std::string &out, std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
}

}  // namespace

void append_input_members(std::string &out, std::string_view input) {
    json_key(out, "input");
    append_json_string(out, input);
    if (is_utf8(input)) return;
    json_key(out, "path_bytes");
    out += '"';
    append_base64(out, input);
    out += '"';
}
