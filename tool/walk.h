// Finding the media files under folders: a recursive walk that follows
// symbolic links but never into a folder it has been in, and tells what it
// could not read instead of stopping. It skips what a media library does:
// macOS resource files (._Name), hidden files and folders (unless asked),
// downloads not yet complete (.part, .!qB, .crdownload); a DVD (VIDEO_TS)
// or Blu-ray (BDMV) structure is one film, the folder holding it.
#pragma once

#include <string>
#include <vector>

struct walk_options {
    int max_depth = -1;                   // folders read below each root; -1: all
    std::vector<std::string> extensions;  // lower case, without the dot
    bool hidden = false;                  // take names starting with a dot too
};

struct walk_result {
    std::vector<std::string> files;     // in walk order, names sorted within a folder; a disc is its folder
    std::vector<std::string> problems;  // "cannot read DIR: reason"
};

// The video extensions taken by default.
std::vector<std::string> default_video_extensions();

// The extensions of a list such as "mkv,.MP4": lower case, without dots.
std::vector<std::string> extensions_from(const std::vector<std::string> &items);

// Every file under roots whose extension is listed; a root that is a file is
// taken whatever its extension.
walk_result find_media_files(const std::vector<std::string> &roots, const walk_options &options);
