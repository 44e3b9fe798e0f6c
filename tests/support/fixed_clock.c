/* Preloaded by the "after 2038" tests: the wall clock reads ORV_TEST_CLOCK
 * (seconds since the epoch) instead of the real time.  Built with the project's
 * flags, so its time functions are the ones the code under test calls (the
 * 64-bit ones when time_t is 64 bits on a 32-bit system).  A time_t too small
 * for the value gives a wrong time, which is what the tests are there to see. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

static time_t fixed_seconds(void)
{
    const char* text = getenv("ORV_TEST_CLOCK");
    return text == NULL ? 0 : (time_t)strtoll(text, NULL, 10);
}

time_t time(time_t* out)
{
    const time_t now = fixed_seconds();
    if (out != NULL) *out = now;
    return now;
}

int gettimeofday(struct timeval* tv, void* zone)
{
    (void)zone;
    tv->tv_sec = fixed_seconds();
    tv->tv_usec = 250000;
    return 0;
}

int clock_gettime(clockid_t clock, struct timespec* ts)
{
    (void)clock;
    ts->tv_sec = fixed_seconds();
    ts->tv_nsec = 250000000;
    return 0;
}
