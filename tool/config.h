// The tool's settings, and the config file that gives their defaults:
// $XDG_CONFIG_HOME/oxmeta/config.toml (~/.config/oxmeta/config.toml).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output.h"

struct settings {
    std::optional<output_format> format;  // unset: a table on a terminal, else tab-separated rows
    bool json = false;                    // --json, the same as --format json
    std::string tmdb_key;
    std::string omdb_key;
    std::string language;
    std::string language_fallback;  // "": none
    long timeout_ms = 15000;
    int retries = 2;
    int deadline_s = 60;
    std::string max_reply_size = "32M";
    std::string replay_dir;
    std::string record_dir;
    bool offline = false;
    std::string base_url;
    bool verbose = false;
    std::string config_path;  // --config; empty: the default place
    std::string key_source;   // where the service's key came from: its option, variable or the config file
    // For scan, from the config file; the scan's own options win.
    std::string cache_path;   // "cache"
    std::string cache_ttl;    // "cache_ttl": "search=1d,detail=7d,missing=1h"
    int jobs = 0;             // "jobs"; 0: not set
    double rate = 0;          // "rate", requests a second per service; 0: not set
};

// Which settings the command line gave, so that the file does not override them.
struct given_on_command_line {
    bool format, language, timeout, retries, deadline, max_reply_size, language_fallback;
};

// The value of an environment variable, or "" when it is not set.
std::string env_or_empty(const char *name);

// The tool's file called name: $XDG_VARIABLE/oxmeta/NAME when that variable
// holds an absolute path, else ~/HOME_FOLDER/oxmeta/NAME ("" without HOME).
std::string user_file(const char *xdg_variable, const char *home_folder, const char *name);

// The default config file's path ("" when neither XDG_CONFIG_HOME nor HOME is set).
std::string default_config_path();

// Reads the config file into s where the command line left a setting
// unset; keys come from the file only when neither the command line nor
// the environment gives one. A missing default file is no error. Returns
// false after printing "oxmeta: ..." when the file cannot be read or holds
// a wrong value; warns about unknown keys and about a file that holds a
// key and is readable by other users.
bool apply_config(settings &s, const given_on_command_line &given);

// "table", "tsv", "json"
std::optional<output_format> parse_format(const std::string &name);
