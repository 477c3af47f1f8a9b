// One file moved safely: renameat2(RENAME_NOREPLACE), else link + unlink,
// and across devices (EXDEV only) a copy under a hidden name, synced,
// compared with the source byte for byte, renamed into place without
// replacing, its folder synced, and only then the source removed.
#include "file_moves.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include <xxhash.h>

namespace {

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string why(const char *what, int error) { return std::string(what) + ": " + std::strerror(error); }

// rename without replacing: 0, or the errno.
int rename_noreplace(const std::string &from, const std::string &to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // A filesystem without RENAME_NOREPLACE: link refuses an existing name.
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    if (unlink(from.c_str()) != 0) {
        const int error = errno;
        unlink(to.c_str());  // the source is still there: the new name goes
        return error;
    }
    return 0;
}

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t read_full(int fd, char *data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Copies a regular file to a hidden name beside destination and puts it in
// place; the source is left to the caller. A clone shares the source's
// blocks (one call, the whole file or nothing) and is checked by its size;
// a copy is compared with the source byte for byte.
move_result copy_into_place(const std::string &source, const std::string &destination, const struct stat &st,
                            bool clone = false) {
    move_result r;
    const std::string partial = partial_name(destination);
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return {false, true, why("open the source", errno)};
    const int out = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        r.error = why("create the copy", errno);
        close(in);
        return r;
    }
    std::vector<char> buffer(clone ? 0 : size_t{1} << 20);
    bool ok = true;
    if (clone && ioctl(out, FICLONE, in) != 0) {
        ok = false;
        r.error = why("share the file's blocks (reflink)", errno);
    }
    for (; ok && !clone;) {
        const ssize_t n = read_full(in, buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            r.error = why("read the source", errno);
            break;
        }
        if (n == 0) break;
        if (!write_all(out, buffer.data(), static_cast<size_t>(n))) {
            ok = false;
            r.error = why("write the copy", errno ? errno : ENOSPC);
            break;
        }
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok && futimens(out, times) != 0) ok = false, r.error = why("keep the modification time", errno);
    if (ok && fsync(out) != 0) ok = false, r.error = why("sync the copy", errno);
    if (close(out) != 0 && ok) ok = false, r.error = why("close the copy", errno);
    close(in);
    struct stat made{};
    if (ok && clone && (stat(partial.c_str(), &made) != 0 || made.st_size != st.st_size))
        ok = false, r.error = "the copy differs from the source";
    if (ok && !clone && !same_content(source, partial)) ok = false, r.error = "the copy differs from the source";
    if (ok) {
        if (const int error = rename_noreplace(partial, destination); error != 0) ok = false, r.error = why("put the copy in place", error);
    }
    if (ok && !sync_folder(folder_of(destination))) {
        // In place but maybe not on disk: the copy goes, the source stays.
        ok = false;
        r.error = why("sync the destination folder", errno);
        unlink(destination.c_str());
    }
    if (!ok) {
        unlink(partial.c_str());
        return r;
    }
    return {true, true, ""};
}

std::string link_target(const std::string &path, const struct stat &st, bool &ok) {
    std::vector<char> target(static_cast<size_t>(st.st_size) + 2);
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    ok = n >= 0 && static_cast<size_t>(n) < target.size();
    return ok ? std::string(target.data(), static_cast<size_t>(n)) : "";
}

// A symbolic link copied as a link: the same target at destination.
move_result copy_link(const std::string &source, const std::string &destination, const struct stat &st) {
    bool ok = false;
    const std::string target = link_target(source, st, ok);
    if (!ok) return {false, true, why("read the link", errno)};
    if (symlink(target.c_str(), destination.c_str()) != 0) return {false, true, why("make the link", errno)};
    sync_folder(folder_of(destination));
    return {true, true, ""};
}

std::string absolute_path(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char here[4096];
    return getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

constexpr const char *kActionNames[] = {"move", "copy", "hardlink", "symlink", "reflink", "hardlink-or-copy"};

}  // namespace

const char *action_name(file_action action) { return kActionNames[static_cast<int>(action)]; }

bool action_from_name(const std::string &name, file_action &action) {
    for (int i = 0; i < static_cast<int>(std::size(kActionNames)); ++i) {
        if (name == kActionNames[i]) {
            action = static_cast<file_action>(i);
            return true;
        }
    }
    return false;
}

move_result place_file(file_action action, const std::string &source, const std::string &destination) {
    if (action == file_action::move) return move_file(source, destination);
    struct stat st{};
    if (lstat(source.c_str(), &st) != 0) return {false, false, why("the source", errno)};
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return {false, false, "neither a file nor a link"};
    move_result r;
    switch (action) {
        case file_action::symlink:
            if (symlink(absolute_path(source).c_str(), destination.c_str()) != 0) return {false, false, why("make the link", errno)};
            r = {true, false, "", true};
            break;
        case file_action::hardlink:
        case file_action::hardlink_or_copy:
            if (link(source.c_str(), destination.c_str()) == 0) {
                r = {true, false, "", true};
                break;
            }
            // Only another device is a reason to copy, and only when asked.
            if (errno != EXDEV || action == file_action::hardlink) return {false, false, why("make the hard link", errno)};
            [[fallthrough]];
        case file_action::copy:
        case file_action::reflink:
            r = S_ISLNK(st.st_mode) ? copy_link(source, destination, st)
                                    : copy_into_place(source, destination, st, action == file_action::reflink);
            if (!r.ok) return r;
            r.copied = true;
            return r;  // copy_into_place synced the folder
        case file_action::move:
            break;
    }
    sync_folder(folder_of(destination));
    return r;
}

bool placed(file_action action, const std::string &source, const std::string &destination) {
    struct stat src{}, dst{};
    if (lstat(source.c_str(), &src) != 0 || lstat(destination.c_str(), &dst) != 0) return false;
    if (src.st_dev == dst.st_dev && src.st_ino == dst.st_ino) return action == file_action::hardlink || action == file_action::hardlink_or_copy;
    if (action == file_action::symlink) {
        bool ok = false;
        return S_ISLNK(dst.st_mode) && link_target(destination, dst, ok) == absolute_path(source) && ok;
    }
    if (S_ISLNK(src.st_mode)) {
        bool a = false, b = false;
        return S_ISLNK(dst.st_mode) && link_target(source, src, a) == link_target(destination, dst, b) && a && b;
    }
    return action != file_action::hardlink && action != file_action::move && S_ISREG(dst.st_mode) && same_content(source, destination);
}

std::string partial_name(const std::string &destination) {
    const size_t slash = destination.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
    // Kept within 255 bytes whatever the name's length.
    return folder + ".oxmeta-partial." + name.substr(0, 200);
}

bool exists(const std::string &path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

bool sync_folder(const std::string &folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool make_folders(const std::string &folder, std::string &reason) {
    struct stat st{};
    if (lstat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        reason = "not a folder: " + folder;
        return false;
    }
    const std::string parent = folder_of(folder);
    if (parent != folder && !make_folders(parent, reason)) return false;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        reason = why(("make the folder " + folder).c_str(), errno);
        return false;
    }
    sync_folder(parent);
    return true;
}

std::string file_hash(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    XXH3_state_t *state = XXH3_createState();
    bool ok = state && XXH3_64bits_reset(state) == XXH_OK;
    std::vector<char> buffer(size_t{1} << 20);
    for (ssize_t n; ok && (n = read_full(fd, buffer.data(), buffer.size())) != 0;)
        ok = n > 0 && XXH3_64bits_update(state, buffer.data(), static_cast<size_t>(n)) == XXH_OK;
    close(fd);
    char text[17] = "";
    if (ok) std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(XXH3_64bits_digest(state)));
    XXH3_freeState(state);
    return text;
}

bool same_content(const std::string &a, const std::string &b) {
    const int fa = open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const int fb = open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> x(size_t{1} << 20), y(size_t{1} << 20);
    while (same) {
        const ssize_t n = read_full(fa, x.data(), x.size());
        const ssize_t m = read_full(fb, y.data(), y.size());
        if (n < 0 || m < 0 || n != m || std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) same = false;
        if (n <= 0) break;
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

move_result move_file(const std::string &source, const std::string &destination) {
    struct stat st{};
    if (lstat(source.c_str(), &st) != 0) return {false, false, why("the source", errno)};
    const int error = rename_noreplace(source, destination);
    if (error == 0) {
        sync_folder(folder_of(destination));
        sync_folder(folder_of(source));
        return {true, false, ""};
    }
    // Only another device is a reason to copy.
    if (error != EXDEV) return {false, false, why("rename", error)};
    if (S_ISLNK(st.st_mode)) {
        if (move_result r = copy_link(source, destination, st); !r.ok) return r;
    } else if (S_ISREG(st.st_mode)) {
        move_result r = copy_into_place(source, destination, st);
        if (!r.ok) return r;
    } else {
        return {false, false, "neither a file nor a link"};
    }
    if (unlink(source.c_str()) != 0) {
        // Both copies stay: the source is never lost.
        return {false, true, why("remove the source after copying (both copies are kept)", errno)};
    }
    sync_folder(folder_of(source));
    return {true, true, ""};
}
