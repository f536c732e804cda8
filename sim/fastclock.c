/* Preloaded into qz_daemon by the simulated board.
 * - QZ_SIM_SPEED > 1 shortens every sleep and every poll() time-out by that
 *   factor and makes the monotonic clock run that much faster, so minute-long
 *   waits pass in seconds; libcurl, which waits in poll() and times its
 *   transfers on the monotonic clock, keeps the same pace as the daemon.
 * - Setting the wall clock is recorded in <QZ_ROOT>/sim/clock_set.log instead
 *   of reaching the host's clock.
 * - Under an emulator, daemon() detaches without forking (see below). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

/* A 32-bit build with 64-bit time_t: our own code calls the *64 entry points,
 * which is what the definitions below become through glibc's headers, while
 * Debian's libraries built with 32-bit time_t (libstdc++'s sleeps and clocks)
 * still call the plain names; both are covered. */
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define FASTCLOCK_TIME32_ENTRIES 1
#define REAL_NAME(plain, time64) time64
#else
#define FASTCLOCK_TIME32_ENTRIES 0
#define REAL_NAME(plain, time64) plain
#endif

static double g_speed = 1.0;
static struct timespec g_base;

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);
typedef int (*nanosleep_fn)(const struct timespec*, struct timespec*);

static clock_gettime_fn real_clock_gettime(void) {
    static clock_gettime_fn fn;
    if (!fn) fn = (clock_gettime_fn)dlsym(RTLD_NEXT, REAL_NAME("clock_gettime", "__clock_gettime64"));
    return fn;
}

static nanosleep_fn real_nanosleep(void) {
    static nanosleep_fn fn;
    if (!fn) fn = (nanosleep_fn)dlsym(RTLD_NEXT, REAL_NAME("nanosleep", "__nanosleep64"));
    return fn;
}

__attribute__((constructor)) static void fastclock_init(void) {
    const char* speed = getenv("QZ_SIM_SPEED");
    if (speed && atof(speed) > 1.0) g_speed = atof(speed);
    real_clock_gettime()(CLOCK_MONOTONIC, &g_base);
}

static double seconds_of(const struct timespec* t) { return (double)t->tv_sec + (double)t->tv_nsec / 1e9; }

static struct timespec timespec_of(double seconds) {
    struct timespec t;
    if (seconds < 0) seconds = 0;
    t.tv_sec = (time_t)seconds;
    t.tv_nsec = (long)((seconds - (double)t.tv_sec) * 1e9);
    return t;
}

int clock_gettime(clockid_t clock, struct timespec* out) {
    int result = real_clock_gettime()(clock, out);
    if (result == 0 && g_speed > 1.0 && (clock == CLOCK_MONOTONIC || clock == CLOCK_BOOTTIME)) {
        double base = seconds_of(&g_base);
        *out = timespec_of(base + (seconds_of(out) - base) * g_speed);
    }
    return result;
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    if (g_speed <= 1.0) return real_nanosleep()(request, remaining);
    struct timespec shortened = timespec_of(seconds_of(request) / g_speed);
    int result = real_nanosleep()(&shortened, NULL);
    if (remaining) remaining->tv_sec = 0, remaining->tv_nsec = 0;
    return result;
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                    struct timespec* remaining) {
    struct timespec relative = *request;
    if (flags & TIMER_ABSTIME) {
        struct timespec now;
        clock_gettime(clock, &now);
        relative = timespec_of(seconds_of(request) - seconds_of(&now));
    }
    return nanosleep(&relative, remaining) == 0 ? 0 : errno;
}

int usleep(useconds_t microseconds) {
    struct timespec t = timespec_of((double)microseconds / 1e6);
    return nanosleep(&t, NULL);
}

unsigned int sleep(unsigned int seconds) {
    struct timespec t = timespec_of((double)seconds);
    nanosleep(&t, NULL);
    return 0;
}

typedef int (*poll_fn)(struct pollfd*, nfds_t, int);

int poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    static poll_fn real;
    if (!real) real = (poll_fn)dlsym(RTLD_NEXT, "poll");
    if (g_speed > 1.0 && timeoutMs > 0) {
        double shortened = (double)timeoutMs / g_speed;
        timeoutMs = shortened < 1.0 ? 1 : (int)shortened;
    }
    return real(fds, count, timeoutMs);
}

int clock_settime(clockid_t clock, const struct timespec* when) {
    const char* root = getenv("QZ_ROOT");
    char path[4096];
    if (!root || !*root) {
        errno = EPERM;
        return -1;
    }
    snprintf(path, sizeof path, "%s/sim/clock_set.log", root);
    FILE* log = fopen(path, "ae");
    if (!log) return -1;
    fprintf(log, "clock_settime %d %lld\n", (int)clock, (long long)when->tv_sec);
    fclose(log);
    return 0;
}

#ifdef FASTCLOCK_DAEMON_STAYS_CHILD
/* qemu-user refuses PR_SET_CHILD_SUBREAPER, so the board could not keep hold of
 * a daemon that forks away from it: here it detaches in place instead. */
int daemon(int nochdir, int noclose) {
    setsid();
    if (!nochdir && chdir("/") != 0) return -1;
    if (!noclose) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0) return -1;
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        if (null > 2) close(null);
    }
    return 0;
}
#endif

#if FASTCLOCK_TIME32_ENTRIES
/* The plain names with the 32-bit time_t layout, passed on to the above. */
struct timespec32 {
    int32_t tv_sec;
    int32_t tv_nsec;
};

static struct timespec widened(const struct timespec32* t) {
    struct timespec wide = {t->tv_sec, t->tv_nsec};
    return wide;
}

static void narrow_into(const struct timespec* t, struct timespec32* out) {
    out->tv_sec = (int32_t)t->tv_sec;
    out->tv_nsec = (int32_t)t->tv_nsec;
}

int clock_gettime32(clockid_t clock, struct timespec32* out) __asm__("clock_gettime");
int clock_gettime32(clockid_t clock, struct timespec32* out) {
    struct timespec wide;
    int result = clock_gettime(clock, &wide);
    if (result == 0) narrow_into(&wide, out);
    return result;
}

int nanosleep32(const struct timespec32* request, struct timespec32* remaining) __asm__("nanosleep");
int nanosleep32(const struct timespec32* request, struct timespec32* remaining) {
    struct timespec wide = widened(request), left = {0, 0};
    int result = nanosleep(&wide, &left);
    if (remaining) narrow_into(&left, remaining);
    return result;
}

int clock_nanosleep32(clockid_t clock, int flags, const struct timespec32* request,
                      struct timespec32* remaining) __asm__("clock_nanosleep");
int clock_nanosleep32(clockid_t clock, int flags, const struct timespec32* request,
                      struct timespec32* remaining) {
    struct timespec wide = widened(request), left = {0, 0};
    int result = clock_nanosleep(clock, flags, &wide, &left);
    if (remaining) narrow_into(&left, remaining);
    return result;
}

int clock_settime32(clockid_t clock, const struct timespec32* when) __asm__("clock_settime");
int clock_settime32(clockid_t clock, const struct timespec32* when) {
    struct timespec wide = widened(when);
    return clock_settime(clock, &wide);
}
#endif
