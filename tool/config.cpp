#include "config.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <toml++/toml.h>

#include "sizes.h"

namespace {

constexpr std::string_view kKnownKeys[] = {"tmdb_key", "omdb_key", "language", "language_fallback", "timeout",   "retries", "deadline",
                                           "format",   "max_reply_size", "cache", "cache_ttl", "jobs", "rate"};

bool is_known(std::string_view key) {
    for (std::string_view known : kKnownKeys)
        if (key == known) return true;
    return false;
}

bool fail(const std::string &path, const std::string &message) {
    std::fprintf(stderr, "oxmeta: %s: %s\n", path.c_str(), message.c_str());
    return false;
}

// Reads an integer key within [low, high] into out; false on a wrong value.
template <typename T>
bool read_int(const toml::table &table, const char *key, int64_t low, int64_t high, T &out, bool keep,
              const std::string &path) {
    const toml::node *node = table.get(key);
    if (!node) return true;
    const auto value = node->value<int64_t>();
    if (!value || *value < low || *value > high || !node->is_integer())
        return fail(path, std::string(key) + " must be a whole number from " + std::to_string(low) + " to " +
                              std::to_string(high));
    if (!keep) out = static_cast<T>(*value);
    return true;
}

// Reads a number above 0 (whole or not) into out.
bool read_rate(const toml::table &table, const char *key, double &out, const std::string &path) {
    const toml::node *node = table.get(key);
    if (!node) return true;
    const auto value = node->value<double>();
    if (!value || !(*value > 0) || *value > 1000) return fail(path, std::string(key) + " must be a number above 0, at most 1000");
    out = *value;
    return true;
}

bool read_text(const toml::table &table, const char *key, std::string &out, bool keep, const std::string &path) {
    const toml::node *node = table.get(key);
    if (!node) return true;
    if (!node->is_string()) return fail(path, std::string(key) + " must be a text in quotes");
    if (!keep) out = *node->value<std::string>();
    return true;
}

}  // namespace

std::string env_or_empty(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string user_file(const char *xdg_variable, const char *home_folder, const char *name) {
    const std::string xdg = env_or_empty(xdg_variable);
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/oxmeta/" + name;
    const std::string home = env_or_empty("HOME");
    return home.empty() ? "" : home + "/" + home_folder + "/oxmeta/" + name;
}

std::optional<output_format> parse_format(const std::string &name) {
    if (name == "table") return output_format::table;
    if (name == "tsv") return output_format::tsv;
    if (name == "json") return output_format::json;
    return std::nullopt;
}

std::string default_config_path() { return user_file("XDG_CONFIG_HOME", ".config", "config.toml"); }

bool apply_config(settings &s, const given_on_command_line &given) {
    const bool chosen = !s.config_path.empty();
    const std::string path = chosen ? s.config_path : default_config_path();
    if (path.empty()) return true;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return chosen ? fail(path, "cannot read the config file") : true;

    toml::table table;
    try {
        table = toml::parse_file(path);
    } catch (const toml::parse_error &e) {
        const auto &at = e.source().begin;
        return fail(path, "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ": " +
                              std::string(e.description()));
    }
    for (const auto &[key, node] : table)
        if (!is_known(key.str()))
            std::fprintf(stderr, "oxmeta: warning: %s: unknown key '%s'\n", path.c_str(),
                         std::string(key.str()).c_str());

    // The command line wins over the environment, the environment over the file.
    const bool tmdb_elsewhere = !s.tmdb_key.empty() || !env_or_empty("TMDB_API_KEY").empty();
    const bool omdb_elsewhere = !s.omdb_key.empty() || !env_or_empty("OMDB_API_KEY").empty();
    std::string format;
    const bool ok = read_text(table, "tmdb_key", s.tmdb_key, tmdb_elsewhere, path) &&
                    read_text(table, "omdb_key", s.omdb_key, omdb_elsewhere, path) &&
                    read_text(table, "language", s.language, given.language, path) &&
                    read_text(table, "language_fallback", s.language_fallback, given.language_fallback, path) &&
                    read_int(table, "timeout", 1, 600000, s.timeout_ms, given.timeout, path) &&
                    read_int(table, "retries", 0, 10, s.retries, given.retries, path) &&
                    read_int(table, "deadline", 1, 86400, s.deadline_s, given.deadline, path) &&
                    read_text(table, "max_reply_size", s.max_reply_size, given.max_reply_size, path) &&
                    read_text(table, "format", format, given.format, path) &&
                    read_text(table, "cache", s.cache_path, false, path) &&
                    read_text(table, "cache_ttl", s.cache_ttl, false, path) &&
                    read_int(table, "jobs", 1, 64, s.jobs, false, path) && read_rate(table, "rate", s.rate, path);
    if (!ok) return false;
    if (!format.empty()) {
        const auto parsed = parse_format(format);
        if (!parsed) return fail(path, "format must be \"table\", \"tsv\" or \"json\"");
        s.format = parsed;
    }
    if (!parse_byte_size(s.max_reply_size)) return fail(path, "max_reply_size must be a size such as \"32M\"");

    const bool holds_key = table.contains("tmdb_key") || table.contains("omdb_key");
    if (holds_key && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
        std::fprintf(stderr,
                     "oxmeta: warning: %s holds an API key and other users can read it (chmod 600 %s)\n",
                     path.c_str(), path.c_str());
    return true;
}
