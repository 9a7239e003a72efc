#include "core/history/letgo.h"

#include <mutex>
#include <vector>

namespace history
{

void keepReachable(const void *object)
{
    static std::mutex mutex;
    // Never destroyed: still reachable when the process ends.
    static auto *kept = new std::vector<const void *>;
    const std::lock_guard<std::mutex> lock(mutex);
    kept->push_back(object);
}

} // namespace history
