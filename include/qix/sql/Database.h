#pragma once

#include <qix/sql/Cache.h>
#include <qix/sql/Procedure.h>
#include <qix/sql/Query.h>
#include <qix/sql/handles.h>
#include <qix/util/exceptions.h>
#include <qix/util/export.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace qix::sql {

namespace detail {

template <typename T>
struct is_optional : std::false_type {
};
template <typename T>
struct is_optional<std::optional<T>> : std::true_type {
};

[[noreturn]] QIX_SQL_API void throw_null_in_column(int column);
QIX_SQL_API void check_result_column_count(int available, int wanted);

template <typename T>
T read_tuple_element_nullable(Query& query, int column, bool* was_null)
{
    if constexpr (std::is_same_v<T, std::int32_t>)
        return query.get_column_as_int32_t(column, was_null);
    else if constexpr (std::is_same_v<T, double>)
        return query.get_column_as_double(column, was_null);
    else if constexpr (std::is_same_v<T, std::string>)
        return query.get_column_as_string(column, was_null);
    else
        static_assert(!sizeof(T), "execute_query supports int, double, std::string and std::optional of those");
}

// Reads one typed tuple element from the current row. NULL is only allowed for optionals.
template <typename T>
T read_tuple_element(Query& query, int column)
{
    if constexpr (is_optional<T>::value) {
        bool was_null = false;
        auto value = read_tuple_element_nullable<typename T::value_type>(query, column, &was_null);
        return was_null ? T{} : T{std::move(value)};
    } else {
        bool was_null = false;
        auto value = read_tuple_element_nullable<T>(query, column, &was_null);
        if (was_null)
            throw_null_in_column(column);
        return value;
    }
}

template <typename... Types, std::size_t... Index>
std::tuple<Types...> read_tuple(Query& query, std::index_sequence<Index...>)
{
    // Braced initialisation reads the columns left to right.
    return std::tuple<Types...>{read_tuple_element<Types>(query, static_cast<int>(Index) + 1)...};
}

} // namespace detail

/// A connect that the driver manager or the driver refused. The message is that of every
/// failed connect; the diagnostic records say why, each as "[SQLSTATE] text", e.g.
/// "[IM002] [unixODBC][Driver Manager]Data source name not found and no default driver specified".
class QIX_SQL_API ConnectError : public Error {
public:
    ConnectError(const std::string& message, std::vector<std::string> diagnostics)
        : Error(message), diagnostics_(std::move(diagnostics))
    {
    }

    [[nodiscard]] const std::vector<std::string>& diagnostics() const noexcept { return diagnostics_; }

private:
    std::vector<std::string> diagnostics_;
};

/// One ODBC data source: its name and credentials, the environment and connection handles,
/// and the cache folder. Connects lazily on first use. Neither copyable nor movable;
/// every Query and Procedure it hands out must be destroyed before it.
class QIX_SQL_API Database {
public:
    /// Stores the three strings; no ODBC call, no connection.
    Database(const std::string& data_source, const std::string& user, const std::string& password);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    /// Disconnects and frees the handles; never throws.
    ~Database();

    /// Opens the connection. Throws "SQL connection is already open" when connected and
    /// ConnectError "Could not connect to data source <dsn>. ..." when the driver manager or
    /// the driver refuses, and also, without calling the driver manager, when the data source
    /// name, user or password is longer than 32767 bytes (the most an ODBC length carries);
    /// its one diagnostic then says which.
    void connect();
    /// Closes the connection if open; the handles stay allocated for a later connect().
    void disconnect() noexcept;
    [[nodiscard]] bool is_connected() const noexcept { return connected_; }

    /// A query on this connection, not yet sent (connects first if needed).
    [[nodiscard]] Query get_query(const std::string& query);
    /// A query on this connection, already sent (connects first if needed).
    [[nodiscard]] Query send_query(const std::string& query);
    /// A stored-procedure call on this connection (connects first if needed).
    [[nodiscard]] Procedure get_procedure(std::string procedure);

    /// The column names of table `table_name` of `owner` from ALL_TAB_COLUMNS, in the order
    /// the data source delivers them; both names are compared in upper case.
    [[nodiscard]] std::vector<std::string> read_column_names(std::string_view table_name, std::string_view owner);

    /// Runs `sql_query` and returns one tuple per row. With no types the rows are only
    /// counted; otherwise column i+1 is read into the i-th type (int, double, std::string, or
    /// std::optional of those; NULL into a non-optional throws). If `db_error_reporting_fct`
    /// holds a target, a failure is handed to it and the rows read so far are returned;
    /// otherwise the exception propagates.
    template <typename... Types>
    std::vector<std::tuple<Types...>> execute_query(const std::string& sql_query,
                                                    std::function<void(const char*)> db_error_reporting_fct = {});

    [[nodiscard]] Cache& get_cache() noexcept { return cache_; }
    [[nodiscard]] const Cache& get_cache() const noexcept { return cache_; }

private:
    Cache cache_;
    std::string data_source_;
    std::string user_;
    std::string password_;
    EnvironmentHandle env_handle_;
    ConnectionHandle conn_handle_;
    StatementHandle stmt_handle_;
    bool connected_ = false;
};

template <typename... Types>
std::vector<std::tuple<Types...>> Database::execute_query(const std::string& sql_query,
                                                          std::function<void(const char*)> db_error_reporting_fct)
{
    std::vector<std::tuple<Types...>> result;
    try {
        Query query = send_query(sql_query);
        // A statement without a result set (one that only changes data or settings) has no rows.
        const int columns = query.get_column_count();
        if constexpr (sizeof...(Types) > 0)
            detail::check_result_column_count(columns, static_cast<int>(sizeof...(Types)));
        while (columns > 0 && query.fetch()) {
            if constexpr (sizeof...(Types) == 0)
                result.emplace_back();
            else
                result.push_back(detail::read_tuple<Types...>(query, std::index_sequence_for<Types...>{}));
        }
    } catch (const std::exception& e) {
        if (!db_error_reporting_fct)
            throw;
        db_error_reporting_fct(e.what());
    }
    return result;
}

} // namespace qix::sql
