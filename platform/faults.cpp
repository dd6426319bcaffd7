// Faults and limits that span the whole stand-in: the count of calls that can fail, which
// lets any one of them fail in turn, and the memory budget the host shares with exec.
#include <cerrno>
#include <cstdlib>

#include "platform/internal.h"

namespace platform {

static uint64      fallible;
static const char *failed;

bool Fails(const char *what)
{
    fallible++;
    if (faults.failAt == 0 || --faults.failAt != 0)
        return false;
    failed = what;
    Trace("stand-in: %s fails, as asked\n", what);
    return true;
}

uint64 FallibleCalls()
{
    return fallible;
}

const char *FailedCall()
{
    return failed;
}

void ForgetFailure()
{
    failed = nullptr;
}

// Reads NAME as a positive number with an optional K, M or G (powers of 1024); anything
// else leaves *value alone.
void ReadSize(const char *name, uint64 *value, uint64 most)
{
    const char *text = getenv(name);
    if (text == nullptr || *text < '0' || *text > '9')
        return;
    char *end;
    errno = 0;
    unsigned long long n = strtoull(text, &end, 10);
    int shift = 0;
    if (*end == 'K' || *end == 'k')
        shift = 10;
    else if (*end == 'M' || *end == 'm')
        shift = 20;
    else if (*end == 'G' || *end == 'g')
        shift = 30;
    if (shift != 0)
        end++;
    if (errno != 0 || *end != '\0' || n == 0 || n > (most >> shift))
        return;
    *value = (uint64)n << shift;
}

static uint64 budget = 2ull << 30, inUse;
static bool   ranOut;

bool TakeMemory(uint64 bytes)
{
    if (bytes > budget - inUse) {
        ranOut = true;
        return false;
    }
    inUse += bytes;
    return true;
}

void GiveMemory(uint64 bytes)
{
    inUse = bytes < inUse ? inUse - bytes : 0;
}

uint64 MemoryInUse()
{
    return inUse;
}

bool MemoryRanOut()
{
    return ranOut;
}

void LoadStaleIoErr()
{
    uint64 code = 0;
    ReadSize("SHEAF_STALE_IOERR", &code, INT32_MAX);
    faults.staleIoErr = (int32)code;
}

void LoadMemoryBudget()
{
    budget = 2ull << 30;
    ReadSize("SHEAF_MAX_MEMORY", &budget, UINT64_MAX);
}

}  // namespace platform
