// The scan that `scan` and `organize` share: the media files under folders
// found, parsed and matched to TMDb through the response cache.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "match_report.h"

struct scan_options {
    std::vector<std::string> dirs;
    int max_depth = -1;
    std::string extensions;
    bool extras = false;
    bool hidden = false;
    int jobs = 0;
    double rate = 0;
    bool no_cache = false;
    bool refresh = false;
    std::string cache_path;
    std::string cache_ttl;
    bool quiet = false;
};

// The options of the walk, the requests and the cache, into cmd (not the
// folders themselves, nor --quiet).
void add_scan_options(CLI::App *cmd, scan_options &options);

// Scans options.dirs; settled is given each file's outcome in walk order
// and returns false when going on is pointless (output failed). `what`
// names the command in messages and the summary. The exit status: 0 every
// file matched, 1 some did not (or a folder could not be read, or the scan
// stopped early), 2 usage, a foreign cache, or settled returned false.
// look_up, when given, makes more lookups for each matched file right
// after its match, through the same replies: a file whose replies are not
// all at hand is matched and looked up again in the next pass.
int scan_media(const run_context &run, const scan_options &options, const char *what,
               const std::function<bool(const match_outcome &)> &settled,
               const std::function<void(const match_outcome &)> &look_up = nullptr);
