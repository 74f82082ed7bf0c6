#include <qix/sql/Procedure.h>

#include "bound_records.h"

#include <utility>

namespace qix::sql {

Procedure::Procedure(std::string procedure, const ConnectionHandle& connection_handle)
    : procedure_(std::move(procedure))
{
    statement_.alloc(connection_handle);
}

// Parameter records move with the statement so that the driver's pointers to their
// length/indicator cells (inside map nodes, which never move) stay valid.
Procedure::Procedure(Procedure&& ori) noexcept
    : statement_(std::move(ori.statement_)), procedure_(std::move(ori.procedure_)),
      param_info_(std::move(ori.param_info_))
{
    ori.procedure_.clear();
}

Procedure& Procedure::operator=(Procedure&& ori) noexcept
{
    if (this != &ori) {
        detail::cancel_if_allocated(statement_);
        statement_ = std::move(ori.statement_);
        procedure_ = std::move(ori.procedure_);
        param_info_ = std::move(ori.param_info_);
        ori.procedure_.clear();
        ori.param_info_.clear();
    }
    return *this;
}

Procedure::~Procedure()
{
    if (statement_.is_allocated())
        statement_.cancel();
}

void Procedure::bind_parameter(int param_idx, ParameterType param_type, CDataType c_data_type,
                               SqlDataType sql_data_type, SQLULEN sql_data_type_length_or_precision,
                               SQLSMALLINT decimal_digits, SQLPOINTER buf, SQLLEN buf_len, ParameterOption param_option)
{
    detail::bind_parameter_record(param_info_, statement_, param_idx, param_type, c_data_type, sql_data_type,
                                  sql_data_type_length_or_precision, decimal_digits, buf, buf_len, param_option);
}

void Procedure::bind_input_parameter(int param_idx, std::nullptr_t)
{
    detail::bind_null_parameter(param_info_, statement_, param_idx);
}

void Procedure::exec()
{
    // A call may leave a result set open (psqlODBC returns the output values as a row too);
    // close it so that the call can run again with new input values.
    if (statement_.is_allocated())
        statement_.close_cursor();
    statement_.execute(procedure_);
}

unsigned long Procedure::get_bytes_read(int param_idx) const { return detail::bytes_read_of(param_info_, param_idx); }

bool Procedure::is_null(int param_idx) const { return detail::is_null_in(param_info_, param_idx); }

} // namespace qix::sql
