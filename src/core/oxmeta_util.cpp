#include "core/oxmeta_util.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <yyjson.h>

#include "oxmeta.h"

namespace {

constexpr size_t kFirstBufCap = 256;

constexpr int clamp_to_int(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// ---------------------------------------------------------------- ox_buf

int ox_buf_add(ox_buf *b, const void *src, size_t count) {
    if (!b) return -1;
    if (!src || count == 0) {
        if (b->data) b->data[b->len] = '\0';
        return 0;
    }
    if (count > SIZE_MAX - b->len - 1) return -1;
    const size_t need = b->len + count + 1;
    if (need > b->cap) {
        size_t cap = b->cap ? b->cap : kFirstBufCap;
        while (cap < need) {
            if (cap > SIZE_MAX / 2) {
                cap = need;
                break;
            }
            cap *= 2;
        }
        auto *grown = static_cast<char *>(std::realloc(b->data, cap));
        if (!grown) return -1;
        b->data = grown;
        b->cap = cap;
    }
    std::memcpy(b->data + b->len, src, count);
    b->len += count;
    b->data[b->len] = '\0';
    return 0;
}

int ox_buf_adds(ox_buf *b, const char *text) {
    return ox_buf_add(b, text, text ? std::strlen(text) : 0);
}

void ox_buf_free(ox_buf *b) {
    if (!b) return;
    std::free(b->data);
    *b = ox_buf{};
}

// ---------------------------------------------------------------- statuses

const char *ox_errstr(int code) {
    switch (code) {
        case OXMETA_OK: return "OK";
        case OXMETA_E_TRANSPORT: return "transport failure";
        case OXMETA_E_HTTP: return "HTTP error";
        case OXMETA_E_AUTH: return "auth failed (check the key)";
        case OXMETA_E_RATE_LIMIT: return "rate limited (back off)";
        case OXMETA_E_JSON: return "response is not valid JSON";
        case OXMETA_E_NOT_FOUND: return "not found";
        case OXMETA_E_EMPTY: return "empty result";
        case OXMETA_E_NO_KEY: return "no API key set for this service";
        case OXMETA_E_NO_IO: return "no IO backend installed";
        case OXMETA_E_INVALID_ARG: return "invalid argument";
        case OXMETA_E_OOM: return "out of memory";
        default: return "unknown error";
    }
}

// ---------------------------------------------------------------- texts

char *ox_strdup(const char *s) {
    if (!s) return nullptr;
    const size_t n = std::strlen(s) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

int ox_qchar_ok(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

char *ox_query_escape_clipped(const char *s, size_t max_bytes) {
    if (!s) return nullptr;
    // Whole characters only: a lead byte and its continuation bytes.
    size_t keep = 0;
    size_t escaped = 0;
    while (s[keep]) {
        const auto lead = static_cast<unsigned char>(s[keep]);
        size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[keep + k]) & 0xC0) != 0x80) {
                n = 1;  // a broken sequence goes byte by byte
                break;
            }
        }
        size_t cost = 0;
        for (size_t k = 0; k < n; ++k) cost += ox_qchar_ok(static_cast<unsigned char>(s[keep + k])) ? 1u : 3u;
        if (escaped + cost > max_bytes) break;
        escaped += cost;
        keep += n;
    }
    char *start = static_cast<char *>(std::malloc(keep + 1));
    if (!start) return nullptr;
    std::memcpy(start, s, keep);
    start[keep] = '\0';
    char *out = ox_query_escape(start);
    std::free(start);
    return out;
}

char *ox_query_escape(const char *s) {
    if (!s) return nullptr;
    size_t size = 1;
    for (const char *p = s; *p; ++p) size += ox_qchar_ok(static_cast<unsigned char>(*p)) ? 1u : 3u;
    auto *out = static_cast<char *>(std::malloc(size));
    if (!out) return nullptr;
    static constexpr char kHex[] = "0123456789ABCDEF";
    char *w = out;
    for (const char *p = s; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (ox_qchar_ok(c)) {
            *w++ = static_cast<char>(c);
        } else {
            *w++ = '%';
            *w++ = kHex[c >> 4];
            *w++ = kHex[c & 0x0F];
        }
    }
    *w = '\0';
    return out;
}

namespace {

struct redact_rule {
    std::string_view pattern;
    std::string_view ends;  // characters that end the masked value
};

constexpr redact_rule kRedactRules[] = {
    {"api_key=", "&"},
    {"apikey=", "&"},
    {"Bearer%20", "&\""},
};

const redact_rule *redact_match(std::string_view rest) {
    for (const auto &rule : kRedactRules)
        if (rest.starts_with(rule.pattern)) return &rule;
    return nullptr;
}

}  // namespace

char *ox_redact_url(const char *url) {
    if (!url) return ox_strdup("");
    const std::string_view text(url);
    ox_buf out{};
    size_t copied = 0;  // start of the stretch not yet appended
    size_t i = 0;
    bool ok = true;
    while (ok && i < text.size()) {
        const redact_rule *rule = redact_match(text.substr(i));
        if (!rule) {
            ++i;
            continue;
        }
        ok = ox_buf_add(&out, url + copied, i - copied) == 0 &&
             ox_buf_add(&out, rule->pattern.data(), rule->pattern.size()) == 0 &&
             ox_buf_add(&out, "***", 3) == 0;
        const size_t end = text.find_first_of(rule->ends, i + rule->pattern.size());
        i = copied = (end == std::string_view::npos) ? text.size() : end;
    }
    if (ok) ok = ox_buf_add(&out, url + copied, i - copied) == 0;
    if (!ok) {
        // Never hand back a partial text: it could end inside a credential.
        ox_buf_free(&out);
        return nullptr;
    }
    return out.data ? out.data : ox_strdup("");
}

// ---------------------------------------------------------------- numbers

int ox_json_int(yyjson_val *v, int def) {
    if (!v) return def;
    if (yyjson_is_uint(v)) return static_cast<int>(static_cast<uint32_t>(yyjson_get_uint(v)));
    if (yyjson_is_sint(v))
        return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(yyjson_get_sint(v))));
    if (yyjson_is_real(v)) {
        const double d = std::trunc(yyjson_get_real(v));
        if (std::isnan(d)) return def;
        if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
        if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
        return static_cast<int>(d);
    }
    if (yyjson_is_str(v)) {
        const char *s = yyjson_get_str(v);
        char *end = nullptr;
        const long long n = std::strtoll(s, &end, 10);
        if (end == s) return def;
        return clamp_to_int(n);
    }
    return def;
}

int ox_year_from_date(const char *s) {
    if (!s) return -1;
    while (*s && !is_digit(*s)) ++s;
    int year = 0;
    for (int i = 0; i < 4; ++i) {
        if (!is_digit(s[i])) return -1;
        year = year * 10 + (s[i] - '0');
    }
    return year;
}

int ox_permille_from_double_str(const char *s) {
    if (!s) return -1;
    while (*s == ' ') ++s;
    const bool negative = *s == '-';
    if (negative) ++s;
    // Beyond this the result is saturated anyway; the cap keeps the
    // accumulator far from overflow.
    constexpr long long kCap = 10LL * INT_MAX;
    long long whole = 0;
    for (; is_digit(*s); ++s) {
        whole = whole * 10 + (*s - '0');
        if (whole > kCap) whole = kCap;
    }
    long long frac = 0;
    if (*s == '.') {
        ++s;
        long long scale = 100;
        for (; is_digit(*s); ++s) {
            if (scale > 0) frac += (*s - '0') * scale;
            scale /= 10;
        }
    }
    const long long value = whole * 1000 + frac;
    return clamp_to_int(negative ? -value : value);
}
