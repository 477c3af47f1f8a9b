#include "sizes.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

std::optional<uint64_t> parse_byte_size(const std::string &text) {
    uint64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop == text.data()) return std::nullopt;
    std::string unit(stop, end);
    std::transform(unit.begin(), unit.end(), unit.begin(), [](unsigned char c) { return std::tolower(c); });
    struct suffix {
        const char *names[3];
        int shift;
    };
    constexpr suffix kUnits[] = {{{"", "b", "bytes"}, 0}, {{"k", "kib", "kb"}, 10}, {{"m", "mib", "mb"}, 20},
                                 {{"g", "gib", "gb"}, 30}};
    for (const suffix &s : kUnits)
        for (const char *n : s.names)
            if (unit == n) {
                if (value > (std::numeric_limits<uint64_t>::max() >> s.shift)) return std::nullopt;
                return value << s.shift;
            }
    return std::nullopt;
}

std::string byte_size_text(uint64_t bytes) {
    constexpr std::pair<int, const char *> kUnits[] = {{30, "GiB"}, {20, "MiB"}, {10, "KiB"}};
    for (const auto &[shift, name] : kUnits)
        if (bytes >= (uint64_t{1} << shift) && bytes % (uint64_t{1} << shift) == 0)
            return std::to_string(bytes >> shift) + " " + name;
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

