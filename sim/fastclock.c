/* Preloaded into qz_daemon by the simulated board.
 * - QZ_SIM_SPEED > 1 shortens every sleep by that factor and makes the
 *   monotonic clock run that much faster, so minute-long waits pass in seconds.
 * - Setting the wall clock is recorded in <QZ_ROOT>/sim/clock_set.log instead
 *   of reaching the host's clock. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double g_speed = 1.0;
static struct timespec g_base;

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);
typedef int (*nanosleep_fn)(const struct timespec*, struct timespec*);

static clock_gettime_fn real_clock_gettime(void) {
    static clock_gettime_fn fn;
    if (!fn) fn = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    return fn;
}

static nanosleep_fn real_nanosleep(void) {
    static nanosleep_fn fn;
    if (!fn) fn = (nanosleep_fn)dlsym(RTLD_NEXT, "nanosleep");
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
