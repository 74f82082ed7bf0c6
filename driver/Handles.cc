#include "Handles.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

namespace qix::lite {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<const Handle*> handles;
    // Handles removed so far; changed under the mutex, read without it.
    std::atomic<std::uint64_t> removals{0};
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

// The last handle of each kind the registry vouched for in this thread, and the removal count
// then. While no handle has been removed since, it is still live: an application calling the
// same statement row after row pays neither the lock nor the hash look-up.
struct Vouched {
    const Handle* handle = nullptr;
    std::uint64_t removals = 0;
};

Vouched& vouched(HandleKind kind) noexcept
{
    thread_local Vouched last[3];
    switch (kind) {
    case HandleKind::environment: return last[0];
    case HandleKind::connection: return last[1];
    case HandleKind::statement: break;
    }
    return last[2];
}

} // namespace

Handle::Handle(HandleKind kind) : kind_(kind)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.handles.insert(this);
}

Handle::~Handle()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.handles.erase(this);
    r.removals.fetch_add(1, std::memory_order_release);
}

Handle* Handle::find(SQLHANDLE handle, HandleKind kind) noexcept
{
    if (handle == nullptr)
        return nullptr;
    // Only the pointer value is compared until the registry has vouched for it.
    auto* candidate = static_cast<Handle*>(handle);
    Registry& r = registry();
    Vouched& last = vouched(kind);
    if (candidate == last.handle && r.removals.load(std::memory_order_acquire) == last.removals)
        return candidate;
    const std::lock_guard lock(r.mutex);
    if (r.handles.find(candidate) == r.handles.end() || candidate->kind_ != kind)
        return nullptr;
    last = {candidate, r.removals.load(std::memory_order_relaxed)};
    return candidate;
}

} // namespace qix::lite
