#include "walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace {

std::string lower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string extension_of(const std::string &name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : lower(name.substr(dot + 1));
}

bool ends_with(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The folder of a disc's structure: its parent is the film.
bool is_disc_folder(const std::string &name) {
    const std::string n = lower(name);
    return n == "video_ts" || n == "bdmv";
}

std::string parent_of(const std::string &path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
}

std::string base_name(const std::string &path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

class walker {
public:
    walker(const walk_options &options, walk_result &out) : options_(options), out_(out) {}

    void root(const std::string &path) {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            problem(path, errno);
            return;
        }
        if (S_ISDIR(info.st_mode) && is_disc_folder(base_name(path))) {
            out_.files.push_back(parent_of(path));
        } else if (S_ISDIR(info.st_mode)) {
            folder(path, info, 0);
        } else {
            out_.files.push_back(path);
        }
    }

private:
    void problem(const std::string &path, int error) {
        out_.problems.push_back("cannot read " + path + ": " + std::strerror(error));
    }

    // Names a media library never takes, whatever the extensions asked for.
    bool skipped(const std::string &name) const {
        if (name.rfind("._", 0) == 0) return true;  // macOS resource data beside a file
        if (!options_.hidden && name[0] == '.') return true;
        const std::string n = lower(name);
        return ends_with(n, ".part") || ends_with(n, ".!qb") || ends_with(n, ".crdownload");
    }

    bool wanted(const std::string &name) const {
        const std::string ext = extension_of(name);
        return std::find(options_.extensions.begin(), options_.extensions.end(), ext) != options_.extensions.end();
    }

    void folder(const std::string &path, const struct stat &info, int depth) {
        // A folder reached twice (a link back up, or two links to one
        // folder) is read once.
        if (!seen_.insert({info.st_dev, info.st_ino}).second) return;
        DIR *dir = opendir(path.c_str());
        if (!dir) {
            problem(path, errno);
            return;
        }
        std::vector<std::string> names;
        errno = 0;
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        const int read_error = errno;
        closedir(dir);
        if (read_error) problem(path, read_error);
        std::sort(names.begin(), names.end());
        const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
        for (const std::string &name : names) {
            const std::string child = prefix + name;
            if (is_disc_folder(name)) {
                struct stat disc {};
                if (stat(child.c_str(), &disc) == 0 && S_ISDIR(disc.st_mode)) {
                    // One film: this folder; nothing else in it is taken.
                    out_.files.push_back(path);
                    return;
                }
            }
        }
        for (const std::string &name : names) {
            if (skipped(name)) continue;
            const std::string child = prefix + name;
            struct stat child_info {};
            if (stat(child.c_str(), &child_info) != 0) {
                // A dangling link is no media file; anything else is told.
                if (errno != ENOENT) problem(child, errno);
                continue;
            }
            if (S_ISDIR(child_info.st_mode)) {
                if (options_.max_depth < 0 || depth < options_.max_depth) folder(child, child_info, depth + 1);
            } else if (S_ISREG(child_info.st_mode) && wanted(name)) {
                out_.files.push_back(child);
            }
        }
    }

    const walk_options &options_;
    walk_result &out_;
    std::set<std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

std::vector<std::string> default_video_extensions() {
    return {"3gp", "avi", "divx", "flv", "iso", "m2ts", "m4v", "mkv", "mov", "mp4", "mpeg",
            "mpg", "mts", "ogm", "ogv", "rmvb", "ts", "vob", "webm", "wmv"};
}

std::vector<std::string> extensions_from(const std::vector<std::string> &items) {
    std::vector<std::string> list;
    for (const std::string &item : items) {
        const std::string ext = lower(!item.empty() && item[0] == '.' ? item.substr(1) : item);
        if (!ext.empty()) list.push_back(ext);
    }
    return list;
}

walk_result find_media_files(const std::vector<std::string> &roots, const walk_options &options) {
    walk_result out;
    walker w(options, out);
    for (const std::string &root : roots) w.root(root);
    return out;
}
