#pragma once

#include <qix/sql/handles.h>
#include <qix/sql/types.h>
#include <qix/util/export.h>

#include <cstddef>
#include <map>
#include <string>

namespace qix::sql {

/// One stored-procedure call (a complete statement text, normally "{call name(?, ...)}")
/// with bound input and output parameters on its own statement handle. Output values
/// appear in the caller's buffers after exec().
class QIX_SQL_API Procedure {
public:
    using ParamInfo = BoundRecord;

    Procedure(std::string procedure, const ConnectionHandle& connection_handle);
    Procedure(const Procedure&) = delete;
    Procedure& operator=(const Procedure&) = delete;
    /// Takes over the statement, its text and its parameter records; `ori` is left empty.
    Procedure(Procedure&& ori) noexcept;
    Procedure& operator=(Procedure&& ori) noexcept;
    ~Procedure();

    void bind_parameter(int param_idx, ParameterType param_type, CDataType c_data_type, SqlDataType sql_data_type,
                        SQLULEN sql_data_type_length_or_precision, SQLSMALLINT decimal_digits, SQLPOINTER buf,
                        SQLLEN buf_len, ParameterOption param_option);
    /// Binds an input parameter that carries a database NULL (as Query does).
    void bind_input_parameter(int param_idx, std::nullptr_t);

    /// Executes the call; throws "Error executing '<text>': <diagnostics>".
    void exec();

    /// Length/indicator of a parameter after exec(), 0 for NULL (std::out_of_range if unbound).
    [[nodiscard]] unsigned long get_bytes_read(int param_idx) const;
    [[nodiscard]] bool is_null(int param_idx) const;

private:
    StatementHandle statement_;
    std::string procedure_;
    std::map<int, ParamInfo> param_info_;
};

} // namespace qix::sql
