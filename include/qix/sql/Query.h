#pragma once

#include <qix/sql/handles.h>
#include <qix/sql/types.h>
#include <qix/util/export.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qix::sql {

/// One SQL statement with its own statement handle, the records of its bound columns and
/// parameters, and whether it has been sent. Obtained from Database::get_query (not sent)
/// or Database::send_query (sent). Bound buffers belong to the caller and must outlive
/// their use; the length/indicator cells live in this object and move with it.
class QIX_SQL_API Query {
public:
    using ColumnInfo = BoundRecord;
    using ParamInfo = BoundRecord;

    /// Allocates a statement on `connection_handle` (10-second query time-out).
    Query(const std::string& query, const ConnectionHandle& connection_handle);
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    /// Takes over the statement, its text, its records and its sent state; `ori` is left
    /// empty. The driver's pointers to the length/indicator cells stay valid.
    Query(Query&& ori) noexcept;
    Query& operator=(Query&& ori) noexcept;
    /// Cancels the statement (closing any open cursor) and frees it; never throws.
    ~Query();

    void bind_column(int column, CDataType datatype, SQLPOINTER buf, SQLLEN buf_len);
    /// Binds `num_elements` values of type char (c_char), unsigned short (c_ushort),
    /// double (c_double), int (c_slong) or long long (c_sbigint).
    template <typename DataType>
    void bind_column(int column, DataType* buf, std::size_t num_elements);

    void bind_parameter(int param_idx, ParameterType param_type, CDataType c_data_type, SqlDataType sql_data_type,
                        SQLULEN sql_data_type_length_or_precision, SQLSMALLINT decimal_digits, SQLPOINTER buf,
                        SQLLEN buf_len, ParameterOption param_option);
    /// Binds an input parameter of type char (varchar, column size 0), int (integer, 10)
    /// or double (double, 53). For text pass the length and ParameterOption::none.
    template <typename DataType>
    void bind_parameter(int param_idx, const DataType* buf, std::size_t num_elements, ParameterOption param_option);
    /// Binds an input parameter that carries a database NULL.
    void bind_parameter(int param_idx, std::nullptr_t);

    /// Executes the statement (again, if it was sent before).
    /// Throws "Query failed: <diagnostics> (<query>)".
    void send();
    /// Fetches the next row into the bound columns; false at the end of the rows.
    /// Throws before send() and on a driver error ("Unable to fetch row: ...").
    [[nodiscard]] bool fetch();

    /// Length written for a bound column at the last fetch, 0 for NULL.
    /// Throws std::out_of_range for a column that was never bound.
    [[nodiscard]] unsigned long get_bytes_read(int column) const;
    /// Whether a bound column was NULL at the last fetch (std::out_of_range if unbound).
    [[nodiscard]] bool is_null(int column) const;

    /// Reads a column of the current row with SQLGetData; false when it is NULL.
    bool get_column(int column, SQLPOINTER buf, SQLLEN buf_len, SQLSMALLINT datatype);
    [[nodiscard]] double get_column_as_double(int column, bool* was_null = nullptr);
    [[nodiscard]] std::int32_t get_column_as_int32_t(int column, bool* was_null = nullptr);
    [[nodiscard]] std::string get_column_as_string(int column, bool* was_null = nullptr);
    [[nodiscard]] std::vector<unsigned char> get_column_as_binary(int column, bool* was_null = nullptr);

    /// Number of result columns of the sent statement (0 when it has no result set).
    [[nodiscard]] int get_column_count();

    [[nodiscard]] const std::string& get_query_string() const noexcept { return query_; }
    [[nodiscard]] bool is_sent() const noexcept { return is_sent_; }
    /// The statement handle, for operations the class does not wrap (attributes).
    [[nodiscard]] StatementHandle& statement() noexcept { return statement_; }

private:
    StatementHandle statement_;
    std::string query_;
    std::map<int, ColumnInfo> column_info_;
    std::map<int, ParamInfo> param_info_;
    bool is_sent_ = false;
};

} // namespace qix::sql
