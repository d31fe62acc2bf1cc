/* Stand-in for linux-gpib's libgpib.so.0: every address it is asked about listens, and answers
   "ID?".
   Built with FAKE_GPIB_GLOBALS_ONLY it reports status only through the global variables,
   as older libraries do; with FAKE_GPIB_NO_FINDLSTN it lacks FindLstn. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define ERR 0x8000
#define END 0x2000
#define RQS 0x0800
#define CMPL 0x0100
#define EARG 4
#define ETAB 20
#define NOADDR 0xffff

static const char answer[] = "FAKE SA,\"7\"\r\n";
static const char* pending = "";
static int wideDescriptor, timeout = 11;
static char calls[2048];

#ifdef FAKE_GPIB_GLOBALS_ONLY
volatile int ibsta, iberr, ibcnt;
volatile long ibcntl;
static int done(int sta, int err, long cnt)
{
    ibcnt = (int)cnt;
    ibcntl = cnt;
    return iberr = err, ibsta = sta;
}
#else
static int sta, err;
static long cnt;
/* Stale globals, as a threaded library leaves them: the per-thread status must win. */
volatile int ibsta = 0x7777, iberr = 77, ibcnt = 77;
volatile long ibcntl = 77;
static int done(int s, int e, long c)
{
    err = e;
    cnt = c;
    return sta = s;
}
int ThreadIbsta(void)
{
    return sta;
}
int ThreadIberr(void)
{
    return err;
}
long ThreadIbcntl(void)
{
    return cnt;
}
#endif

/* Adds a line to the record of calls, arguments as the library received them. */
static void note(const char* format, ...)
{
    size_t used = strlen(calls);
    va_list args;
    va_start(args, format);
    vsnprintf(calls + used, sizeof calls - used, format, args);
    va_end(args);
    strncat(calls, "\n", sizeof calls - strlen(calls) - 1);
}

/* From now on descriptors have a negative low half. */
void fake_gpib_wide(void)
{
    wideDescriptor = 1;
}

const char* fake_gpib_calls(void)
{
    return calls;
}

int ibdev(int board_index, int pad, int sad, int timo, int send_eoi, int eosmode)
{
    note("ibdev %d %d %d %d %d %d", board_index, pad, sad, timo, send_eoi, eosmode);
    timeout = timo;
    return done(CMPL, 0, 0), wideDescriptor ? 0x18000 : 1;
}

int ibpad(int ud, int pad)
{
    note("ibpad %d %d", ud, pad);
    return pad > 30 ? done(ERR, EARG, 0) : done(CMPL, 0, 0);
}

int ibclr(int ud)
{
    note("ibclr %d", ud);
    pending = "";
    return done(CMPL, 0, 0);
}

int ibrsp(int ud, char* spr)
{
    note("ibrsp %d", ud);
    *spr = (char)0xd0;
    return done(CMPL, 0, 1);
}

int ibwrt(int ud, const void* buf, long count)
{
    note("ibwrt %d %.*s", ud, (int)count, (const char*)buf);
    if (count == 3 && memcmp(buf, "ID?", 3) == 0)
        pending = answer;
    return done(CMPL, 0, count);
}

int ibrd(int ud, void* buf, long count)
{
    note("ibrd %d %ld", ud, count);
    long n = (long)strlen(pending);
    if (n > count)
        n = count;
    memcpy(buf, pending, (size_t)n);
    pending += n;
    return done(*pending ? CMPL : END | CMPL, 0, n);
}

int ibtmo(int ud, int v)
{
    note("ibtmo %d %d", ud, v);
    timeout = v;
    return done(CMPL, 0, 0);
}

int ibask(int ud, int option, int* value)
{
    note("ibask %d %d", ud, option);
    return option != 3 ? done(ERR, EARG, 0) : (*value = timeout, done(CMPL, 0, 0));
}

int ibwait(int ud, int mask)
{
    note("ibwait %d 0x%x", ud, mask);
    return done(CMPL | (mask & RQS), 0, 0);
}

int ibsre(int ud, int v)
{
    note("ibsre %d %d", ud, v);
    return done(CMPL, 0, 0);
}

void SendIFC(int board_desc)
{
    note("SendIFC %d", board_desc);
    done(CMPL, 0, 0);
}

#ifndef FAKE_GPIB_NO_FINDLSTN
void FindLstn(int board_desc, const unsigned short padList[], unsigned short resultList[],
              int maxNumResults)
{
    int i, found = 0;
    note("FindLstn %d %d", board_desc, maxNumResults);
    for (i = 0; padList[i] != NOADDR; ++i) {
        if (found >= maxNumResults) {
            done(ERR, ETAB, found);
            return;
        }
        resultList[found++] = padList[i];
    }
    done(CMPL, 0, found);
}
#endif
