#include "platform/ResourceLimits.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>

namespace platform {
namespace {

// Root's value of one limit, and the least the run can do its work with.
struct RootLimit {
  int resource;
  rlim_t soft;
  rlim_t hard;
  rlim_t needed;
};

constexpr rlim_t kMiB = 1024 * 1024;
constexpr rlim_t kGiB = 1024 * kMiB;

// What a system gives root's own processes: no limit where it sets none, an
// 8 MiB stack, enough descriptors for the tool and a shell command, no core
// files (a root run's memory holds what the caller may not read). The run
// needs a few descriptors for itself and a shell command, room for a
// staging copy of 1 GiB, CPU time for the longest run the watchdog allows
// and memory for the signature check's bounded buffers; a process limit
// does not hold a process whose real user is root.
const std::array<RootLimit, 9> kRootLimits{{
    {RLIMIT_NOFILE, 1024, 4096, 64},
    {RLIMIT_NPROC, RLIM_INFINITY, RLIM_INFINITY, 0},
    {RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY, 3600},
    {RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY, 2 * kGiB},
    {RLIMIT_AS, RLIM_INFINITY, RLIM_INFINITY, 512 * kMiB},
    {RLIMIT_DATA, RLIM_INFINITY, RLIM_INFINITY, 512 * kMiB},
    {RLIMIT_STACK, 8 * kMiB, RLIM_INFINITY, 8 * kMiB},
    {RLIMIT_MEMLOCK, 8 * kMiB, 8 * kMiB, 0},
    {RLIMIT_CORE, 0, 0, 0},
}};

// Some systems deny root the right to raise a hard limit (a container
// without CAP_SYS_RESOURCE); the soft limit then goes as far as the hard
// one allows, and the run goes on only when that is enough for it.
bool setRootLimit(const RootLimit& limit) {
  const struct rlimit wanted {limit.soft, limit.hard};
  if (setrlimit(limit.resource, &wanted) == 0) return true;
  struct rlimit current {};
  if (getrlimit(limit.resource, &current) != 0) return false;
  const struct rlimit allowed {std::min(limit.soft, current.rlim_max), current.rlim_max};
  return setrlimit(limit.resource, &allowed) == 0 && allowed.rlim_cur >= limit.needed;
}

}  // namespace

bool setRootResourceLimits() {
  bool enough = true;
  for (const RootLimit& limit : kRootLimits) enough = setRootLimit(limit) && enough;
  return enough;
}

}  // namespace platform
