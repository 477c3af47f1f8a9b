// The plan of `oxmeta organize`: for each matched video its place in the
// library and its sidecars beside it, checked before anything is touched.
#pragma once

#include <string>
#include <vector>

#include "match_report.h"

struct plan_step {
    std::string source;
    std::string destination;
    size_t group;  // the video this step belongs to (its sidecars share it)
};

struct plan_left {
    std::string source;
    std::string reason;
    bool failed = false;  // a failure (no reply, a conflict), not a file organize cannot place
};

// A file written into the library once the steps are done (a metadata
// file), never replacing one.
struct plan_write {
    std::string path;
    std::string beside;  // written only if this path (its video, or its show's folder) is there then
    std::string kind;    // what it holds: "movie", "tvshow", "episodedetails", or an image ("poster", ...)
    std::string text;    // its text, or the address its bytes are fetched from
    bool fetched = false;  // text is an address: the bytes are fetched as the file is written
};

struct organize_plan {
    std::vector<plan_step> steps;  // in the order they are to be done
    std::vector<plan_left> left;   // files not moved, and why
    std::vector<plan_write> writes;  // after the steps
};

struct plan_options {
    std::string library;      // the folder the files go to
    std::string layout;       // jellyfin, plex or kodi; empty with a template
    std::string template_text;
    bool skip_conflicts = false;   // --conflict skip: a conflict is skipped, not failed
    bool index_conflicts = false;  // --conflict index: "Name (2).ext" where "Name.ext" exists
    bool sources_stay = false;     // copies and links: a source's path is never freed
};

// The plan for the matched outcomes, in walk order.
organize_plan make_plan(const std::vector<match_outcome> &outcomes, const plan_options &options);
