#pragma once

#include "Diagnostics.h"

#include <sql.h>

namespace qix::lite {

enum class HandleKind : SQLSMALLINT {
    environment = SQL_HANDLE_ENV,
    connection = SQL_HANDLE_DBC,
    statement = SQL_HANDLE_STMT,
};

/// What every handle the driver gives out has in common: its kind and its diagnostic area. Every
/// live handle is listed in a registry, so that a null, stale or foreign pointer is answered with
/// SQL_INVALID_HANDLE instead of being dereferenced.
class Handle {
public:
    explicit Handle(HandleKind kind);
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    virtual ~Handle();

    [[nodiscard]] HandleKind kind() const noexcept { return kind_; }
    [[nodiscard]] Diagnostics& diagnostics() noexcept { return diagnostics_; }

    /// The live handle of kind `kind` at `handle`, or null when there is none.
    [[nodiscard]] static Handle* find(SQLHANDLE handle, HandleKind kind) noexcept;

private:
    HandleKind kind_;
    Diagnostics diagnostics_;
};

/// The live handle of type T at `handle`, or null.
template <typename T>
[[nodiscard]] T* find_handle(SQLHANDLE handle) noexcept
{
    return static_cast<T*>(Handle::find(handle, T::kKind));
}

} // namespace qix::lite
