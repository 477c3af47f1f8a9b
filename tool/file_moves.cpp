// One file moved safely: renameat2(RENAME_NOREPLACE), else link + unlink,
// and across devices (EXDEV only) a copy under a hidden name, synced,
// compared with the source byte for byte, renamed into place without
// replacing, its folder synced, and only then the source removed.
#include "file_moves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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
// place; the source is left to the caller.
move_result copy_into_place(const std::string &source, const std::string &destination, const struct stat &st) {
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
    std::vector<char> buffer(size_t{1} << 20);
    bool ok = true;
    for (;;) {
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
    if (ok && !same_content(source, partial)) ok = false, r.error = "the copy differs from the source";
    if (ok) {
        if (const int error = rename_noreplace(partial, destination); error != 0) ok = false, r.error = why("put the copy in place", error);
    }
    if (ok && !sync_folder(folder_of(destination))) ok = false, r.error = why("sync the destination folder", errno);
    if (!ok) {
        unlink(partial.c_str());
        return r;
    }
    return {true, true, ""};
}

}  // namespace

std::string partial_name(const std::string &destination) {
    const size_t slash = destination.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
    // Kept within 255 bytes whatever the name's length.
    return folder + ".oxmeta-partial." + name.substr(0, 200);
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
        std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
        const ssize_t n = readlink(source.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) return {false, true, why("read the link", errno)};
        if (symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), destination.c_str()) != 0)
            return {false, true, why("make the link", errno)};
        sync_folder(folder_of(destination));
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
