/* Fault injection at the operating-system boundary, loaded with LD_PRELOAD
 * into a child interpreter. It interposes getrandom, open of /dev/urandom and
 * pthread_create, and passes every call through until a test arms a mode
 * with fault_arm() (reached through ctypes). The module is not modified: it
 * sees exactly what a failing kernel or an exhausted thread limit shows it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/random.h>
#include <sys/types.h>
#include <unistd.h>

enum {
    FAULT_OFF = 0,
    RANDOM_FAILS = 1,              /* every entropy request fails */
    RANDOM_FAILS_OFF_CALLER = 2,   /* fails on every thread but the arming one */
    RANDOM_FAILS_AT_REKEY = 3,     /* other threads: first request works, later ones fail */
    THREAD_START_FAILS = 4,        /* the second thread started after arming fails */
};

static int mode = FAULT_OFF;
static pid_t arming_thread;
static int injected;
static int threads_started;
static __thread int fills_on_this_thread;
static __thread int deny_urandom; /* the fallback fails right after getrandom did */

void fault_arm(int new_mode) {
    arming_thread = gettid();
    __atomic_store_n(&injected, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&threads_started, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&mode, new_mode, __ATOMIC_SEQ_CST);
}

/* How many failures were injected since the last fault_arm. */
int fault_injected(void) { return __atomic_load_n(&injected, __ATOMIC_SEQ_CST); }

static int entropy_fails_now(void) {
    const int current = __atomic_load_n(&mode, __ATOMIC_SEQ_CST);
    const int other_thread = gettid() != arming_thread;
    switch (current) {
    case RANDOM_FAILS: return 1;
    case RANDOM_FAILS_OFF_CALLER: return other_thread;
    case RANDOM_FAILS_AT_REKEY: return other_thread && fills_on_this_thread++ > 0;
    default: return 0;
    }
}

ssize_t getrandom(void *buffer, size_t length, unsigned int flags) {
    if (entropy_fails_now()) {
        __atomic_add_fetch(&injected, 1, __ATOMIC_SEQ_CST);
        deny_urandom = 1;
        errno = EIO;
        return -1;
    }
    ssize_t (*real)(void *, size_t, unsigned int) = dlsym(RTLD_NEXT, "getrandom");
    return real(buffer, length, flags);
}

static int urandom_denied(const char *path) {
    if (!deny_urandom || strcmp(path, "/dev/urandom") != 0) return 0;
    deny_urandom = 0;
    errno = EIO;
    return 1;
}

static int forward_open(const char *name, const char *path, int flags, va_list rest) {
    mode_t permissions = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0;
    int (*real)(const char *, int, ...) = dlsym(RTLD_NEXT, name);
    return real(path, flags, permissions);
}

int open(const char *path, int flags, ...) {
    if (urandom_denied(path)) return -1;
    va_list rest;
    va_start(rest, flags);
    const int fd = forward_open("open", path, flags, rest);
    va_end(rest);
    return fd;
}

int open64(const char *path, int flags, ...) {
    if (urandom_denied(path)) return -1;
    va_list rest;
    va_start(rest, flags);
    const int fd = forward_open("open64", path, flags, rest);
    va_end(rest);
    return fd;
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes,
                   void *(*entry)(void *), void *argument) {
    if (__atomic_load_n(&mode, __ATOMIC_SEQ_CST) == THREAD_START_FAILS &&
        __atomic_add_fetch(&threads_started, 1, __ATOMIC_SEQ_CST) == 2) {
        __atomic_add_fetch(&injected, 1, __ATOMIC_SEQ_CST);
        return EAGAIN;
    }
    int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *) =
        dlsym(RTLD_NEXT, "pthread_create");
    return real(thread, attributes, entry, argument);
}
