#include "credentials.h"

#include <optional>
#include <string_view>

namespace {

constexpr std::string_view kNames[] = {"api_key", "apikey"};

bool is_credential(std::string_view parameter) {
    const std::string_view name = parameter.substr(0, parameter.find('='));
    for (std::string_view n : kNames)
        if (name == n) return true;
    return false;
}

// Calls visit(parameter) for each parameter of url's query; visit returns
// the text that replaces it, or nothing to drop it.
template <typename Visit>
std::string rewrite_query(const std::string &url, Visit visit) {
    const size_t query = url.find('?');
    if (query == std::string::npos) return url;
    std::string kept;
    size_t at = query + 1;
    while (at <= url.size()) {
        size_t end = url.find('&', at);
        if (end == std::string::npos) end = url.size();
        const std::string_view parameter(url.data() + at, end - at);
        if (const auto replaced = visit(parameter)) kept.append(kept.empty() ? "" : "&").append(*replaced);
        at = end + 1;
    }
    return url.substr(0, query) + (kept.empty() ? "" : "?" + kept);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

void replace_all(std::string &text, const std::string &what, std::string_view with) {
    if (what.empty()) return;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

}  // namespace

std::string strip_credentials(const std::string &url) {
    return rewrite_query(url, [](std::string_view p) -> std::optional<std::string> {
        if (is_credential(p)) return std::nullopt;
        return std::string(p);
    });
}

std::string mask_credentials(const std::string &url) {
    return rewrite_query(url, [](std::string_view p) -> std::optional<std::string> {
        if (!is_credential(p)) return std::string(p);
        return std::string(p.substr(0, p.find('='))) + "=***";
    });
}

std::string scrub_credentials(std::string text, const std::string &url) {
    std::vector<std::string> values;
    rewrite_query(url, [&](std::string_view p) -> std::optional<std::string> {
        const size_t eq = p.find('=');
        if (is_credential(p) && eq != std::string_view::npos) {
            values.emplace_back(p.substr(eq + 1));
            values.push_back(percent_decoded(p.substr(eq + 1)));
        }
        return std::nullopt;
    });
    for (const std::string &value : values) replace_all(text, value, "REDACTED");
    return text;
}
