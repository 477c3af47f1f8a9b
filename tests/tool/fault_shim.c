/* Preloaded into the tool by the organize fault sweep: the k-th call
 * (OXMETA_FAULT_AT=k) of rename, renameat, renameat2, link, linkat, write
 * (to a file other than stdin, stdout and stderr), fsync or fdatasync
 * fails with OXMETA_FAULT (EXDEV, ENOSPC, EIO, EACCES), or, with
 * OXMETA_FAULT=KILL, the process is killed with SIGKILL before it. The
 * calls counted are written to OXMETA_FAULT_COUNT at exit. symlink is
 * counted too, and OXMETA_FAKE_FREE sets the free space statvfs tells. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

static long calls;

static void save_count(void) {
    const char *path = getenv("OXMETA_FAULT_COUNT");
    if (!path) return;
    FILE *f = fopen(path, "w");
    if (!f) return;
    fprintf(f, "%ld\n", calls);
    fclose(f);
}

/* 0: go on; else the errno to fail with. */
static int fault(void) {
    static int registered;
    if (!registered) {
        registered = 1;
        atexit(save_count);
    }
    const char *at = getenv("OXMETA_FAULT_AT");
    const char *what = getenv("OXMETA_FAULT");
    if (++calls != (at ? atol(at) : 0) || !what) return 0;
    if (strcmp(what, "KILL") == 0) kill(getpid(), SIGKILL);
    if (strcmp(what, "EXDEV") == 0) return EXDEV;
    if (strcmp(what, "ENOSPC") == 0) return ENOSPC;
    if (strcmp(what, "EACCES") == 0) return EACCES;
    return EIO;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

int rename(const char *a, const char *b) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(rename)(a, b);
}
int renameat(int fa, const char *a, int fb, const char *b) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(renameat)(fa, a, fb, b);
}
int renameat2(int fa, const char *a, int fb, const char *b, unsigned flags) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(renameat2)(fa, a, fb, b, flags);
}
int link(const char *a, const char *b) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(link)(a, b);
}
int linkat(int fa, const char *a, int fb, const char *b, int flags) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(linkat)(fa, a, fb, b, flags);
}
ssize_t write(int fd, const void *data, size_t size) {
    if (fd > 2) {
        const int e = fault();
        if (e) return errno = e, -1;
    }
    return REAL(write)(fd, data, size);
}
int fsync(int fd) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(fsync)(fd);
}
int fdatasync(int fd) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(fdatasync)(fd);
}
int symlink(const char *target, const char *path) {
    const int e = fault();
    if (e) return errno = e, -1;
    return REAL(symlink)(target, path);
}

/* OXMETA_FAKE_FREE=N: every filesystem has N bytes free. */
int statvfs(const char *path, struct statvfs *out) {
    const int rc = REAL(statvfs)(path, out);
    const char *free_bytes = getenv("OXMETA_FAKE_FREE");
    if (rc == 0 && free_bytes) {
        out->f_frsize = 1;
        out->f_bavail = out->f_bfree = strtoull(free_bytes, NULL, 10);
    }
    return rc;
}
