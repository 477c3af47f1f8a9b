// Writing JSON Lines by hand: one reused string per line, no tree.
#include "json_line.h"

#include <utf8proc.h>

#include <charconv>
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
