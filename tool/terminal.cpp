#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <utf8proc.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // …

// Decodes the code point at text[at]; its length in bytes, or -1 when the
// bytes there are not valid UTF-8.
utf8proc_ssize_t decode(std::string_view text, size_t at, utf8proc_int32_t &cp) {
    const auto *bytes = reinterpret_cast<const utf8proc_uint8_t *>(text.data() + at);
    return utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - at), &cp);
}

void append_hex(std::string &out, const char *format, unsigned value) {
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, format, value);
    out += escaped;
}

}  // namespace

std::string escape_cell(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = decode(text, at, cp);
        if (n <= 0) {
            append_hex(out, "\\x%02x", static_cast<unsigned char>(text[at]));
            ++at;
            continue;
        }
        switch (cp) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (cp < 0x20 || cp == 0x7F)
                append_hex(out, "\\x%02x", static_cast<unsigned>(cp));
            else if (cp >= 0x80 && cp < 0xA0)
                append_hex(out, "\\u%04x", static_cast<unsigned>(cp));
            else
                out.append(text.substr(at, static_cast<size_t>(n)));
        }
        at += static_cast<size_t>(n);
    }
    return out;
}

size_t display_width(std::string_view text) {
    size_t width = 0;
    for (size_t at = 0; at < text.size();) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = decode(text, at, cp);
        if (n <= 0) {  // not expected after escape_cell; counted as one column
            ++width;
            ++at;
            continue;
        }
        width += static_cast<size_t>(utf8proc_charwidth(cp));
        at += static_cast<size_t>(n);
    }
    return width;
}

std::string truncate_to_width(std::string_view text, size_t width) {
    if (display_width(text) <= width) return std::string(text);
    if (width == 0) return "";
    // Keep whole characters that fit in width - 1 columns, then the ellipsis.
    size_t used = 0;
    size_t at = 0;
    while (at < text.size()) {
        utf8proc_int32_t cp = 0;
        utf8proc_ssize_t n = decode(text, at, cp);
        const size_t w = n <= 0 ? 1 : static_cast<size_t>(utf8proc_charwidth(cp));
        if (n <= 0) n = 1;
        if (used + w > width - 1) break;
        used += w;
        at += static_cast<size_t>(n);
    }
    return std::string(text.substr(0, at)).append(kEllipsis);
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

size_t terminal_columns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char *columns = std::getenv("COLUMNS")) {
        const long value = std::strtol(columns, nullptr, 10);
        if (value > 0) return static_cast<size_t>(value);
    }
    return 0;
}
