#include "Handles.h"

#include <mutex>
#include <unordered_set>

namespace qix::lite {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_set<const Handle*> handles;
};

Registry& registry()
{
    static Registry instance;
    return instance;
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
}

Handle* Handle::find(SQLHANDLE handle, HandleKind kind) noexcept
{
    if (handle == nullptr)
        return nullptr;
    // Only the pointer value is compared until the registry has vouched for it.
    auto* candidate = static_cast<Handle*>(handle);
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.handles.find(candidate) == r.handles.end() || candidate->kind_ != kind)
        return nullptr;
    return candidate;
}

} // namespace qix::lite
