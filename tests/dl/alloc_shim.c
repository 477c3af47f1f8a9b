/*
 * An allocator shim for LD_PRELOAD: malloc, calloc, realloc, strdup and
 * strndup of the whole process go through here to the C library's own
 * allocator, and free releases through it. A test arms it from the host
 * program (the oxshim_* functions, found with dlsym): it then counts
 * allocations, fails the chosen one (and, onward, every later one), and
 * keeps the addresses of the blocks made while tracking so that it can say
 * how many are still live. It allocates nothing itself.
 */
#define _GNU_SOURCE
#include <stddef.h>
#include <stdint.h>
#include <string.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t n, size_t size);
extern void *__libc_realloc(void *p, size_t size);
extern void __libc_free(void *p);

#define SHIM_API __attribute__((visibility("default")))

enum { kSlots = 1 << 18 };          /* open addressing, linear probing */
static uintptr_t g_slots[kSlots];   /* 0 empty, 1 removed, else a block */
static long g_used;                 /* slots not empty */
static long g_live;
static int g_overflow;
static int g_tracking;
static long g_seen;                 /* allocations since armed */
static long g_fail_at = -1;         /* -1: nothing fails */
static int g_onward;
static int g_hit;
static volatile int g_lock;

static void lock(void) {
    while (__atomic_exchange_n(&g_lock, 1, __ATOMIC_ACQUIRE)) {
    }
}
static void unlock(void) { __atomic_store_n(&g_lock, 0, __ATOMIC_RELEASE); }

static size_t slot_of(uintptr_t p) { return (size_t)((p >> 4) * 0x9E3779B97F4A7C15ull >> 44) & (kSlots - 1); }

static void remember(void *p) {
    if (!p || !g_tracking) return;
    if (g_used >= kSlots / 2) {
        g_overflow = 1;
        return;
    }
    size_t i = slot_of((uintptr_t)p);
    while (g_slots[i] > 1) i = (i + 1) & (kSlots - 1);
    if (g_slots[i] == 0) ++g_used;
    g_slots[i] = (uintptr_t)p;
    ++g_live;
}

static void forget(void *p) {
    if (!p || !g_tracking) return;
    for (size_t i = slot_of((uintptr_t)p); g_slots[i] != 0; i = (i + 1) & (kSlots - 1)) {
        if (g_slots[i] == (uintptr_t)p) {
            g_slots[i] = 1;
            --g_live;
            return;
        }
    }
}

/* Whether this allocation is the one to fail (lock held). */
static int inject(void) {
    if (g_fail_at < 0) return 0;
    const long n = g_seen++;
    if (n == g_fail_at || (g_onward && n > g_fail_at)) {
        g_hit = 1;
        return 1;
    }
    return 0;
}

SHIM_API void *malloc(size_t size) {
    lock();
    void *p = inject() ? NULL : __libc_malloc(size);
    remember(p);
    unlock();
    return p;
}

SHIM_API void *calloc(size_t n, size_t size) {
    lock();
    void *p = inject() ? NULL : __libc_calloc(n, size);
    remember(p);
    unlock();
    return p;
}

SHIM_API void *realloc(void *old, size_t size) {
    lock();
    void *p = NULL;
    if (!inject()) {
        p = __libc_realloc(old, size);
        if (p || size == 0) forget(old);
        remember(p);
    }
    unlock();
    return p;
}

SHIM_API void free(void *p) {
    if (!p) return;
    lock();
    forget(p);
    unlock();
    __libc_free(p);
}

SHIM_API char *strdup(const char *s) {
    const size_t len = strlen(s);
    char *copy = malloc(len + 1);
    if (copy) memcpy(copy, s, len + 1);
    return copy;
}

SHIM_API char *strndup(const char *s, size_t max) {
    const size_t len = strnlen(s, max);
    char *copy = malloc(len + 1);
    if (!copy) return NULL;
    memcpy(copy, s, len);
    copy[len] = '\0';
    return copy;
}

/* ---- controls for the host program */

/* Starts (on) or stops tracking; starting forgets every block seen before. */
SHIM_API void oxshim_track(int on) {
    lock();
    if (on) {
        memset(g_slots, 0, sizeof g_slots);
        g_used = 0;
        g_live = 0;
        g_overflow = 0;
    }
    g_tracking = on;
    unlock();
}

/* Fails the allocation n from now (0: the next one) and, onward, every
 * later one; n < 0 lets every allocation through. */
SHIM_API void oxshim_fail_from(long n, int onward) {
    lock();
    g_seen = 0;
    g_fail_at = n;
    g_onward = onward;
    g_hit = 0;
    unlock();
}

/* Whether a failure was injected since the last oxshim_fail_from. */
SHIM_API int oxshim_hit(void) { return __atomic_load_n(&g_hit, __ATOMIC_ACQUIRE); }

/* Blocks made while tracking and not yet freed; -1 when too many to keep. */
SHIM_API long oxshim_live(void) {
    lock();
    const long live = g_overflow ? -1 : g_live;
    unlock();
    return live;
}
