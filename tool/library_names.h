// The names a media server expects for a matched file: a layout (or a
// template of tokens) filled in from the match, made legal on both Linux
// and Windows and short enough for every sidecar to follow the video.
#pragma once

#include <string>
#include <vector>

struct library_entry {
    bool episode = false;
    std::string title;          // the film's, or the show's
    int year = 0;               // 0: unknown
    std::string tmdb;           // TMDb id of the film or the show
    std::string imdb;
    int season = -1;
    std::vector<int> episodes;  // the episodes the file holds, in order
    std::string episode_title;
    std::string edition;
    std::string screen_size;
    std::string ext;            // without the dot
};

// The folders and file name (without extension handling: the template
// gives it) for entry under layout "jellyfin", "plex" or "kodi", or under
// the template text when layout is empty. Each component is legal on
// Linux and Windows and, with room for suffix_room more bytes (the longest
// sidecar suffix), at most 255 bytes; the episode title is cut first.
std::vector<std::string> library_path(const library_entry &entry, const std::string &layout, const std::string &text,
                                      size_t suffix_room);

// Whether text is a template the renderer takes: "" when it is, else why not.
std::string template_problem(const std::string &text);

// One path component made legal on Linux and Windows: no < > : " / \ | ? *
// nor control characters (a colon becomes " - "), no trailing dot or space,
// no reserved device name, never empty.
std::string legal_component(const std::string &name);

// name cut to at most max_bytes at a UTF-8 character boundary.
std::string cut_utf8(const std::string &name, size_t max_bytes);
