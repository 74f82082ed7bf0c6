#include <qix/sql/Procedure.h>

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
        if (statement_.is_allocated())
            SQLCancel(statement_());
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
    ParamInfo& record = param_info_.try_emplace(param_idx, ParamInfo{c_data_type, buf, buf_len, 0}).first->second;
    record.buf_len = buf_len;
    record.datatype = c_data_type;
    record.buf = buf;
    record.bytes_read = param_option != ParameterOption::none ? static_cast<SQLLEN>(param_option) : buf_len;
    statement_.bind_parameter(static_cast<SQLUSMALLINT>(param_idx), param_type, c_data_type, sql_data_type,
                              sql_data_type_length_or_precision, decimal_digits, buf, buf_len, &record.bytes_read);
}

void Procedure::bind_input_parameter(int param_idx, std::nullptr_t)
{
    bind_parameter(param_idx, ParameterType::in, CDataType::c_slong, SqlDataType::s_integer, 10, 0, nullptr, 0,
                   ParameterOption::null_data);
}

void Procedure::exec()
{
    // A call may leave a result set open (psqlODBC returns the output values as a row too);
    // close it so that the call can run again with new input values.
    if (statement_.is_allocated())
        statement_.close_cursor();
    statement_.execute(procedure_);
}

unsigned long Procedure::get_bytes_read(int param_idx) const
{
    const SQLLEN length = param_info_.at(param_idx).bytes_read;
    return length == SQL_NULL_DATA ? 0UL : static_cast<unsigned long>(length);
}

bool Procedure::is_null(int param_idx) const { return param_info_.at(param_idx).bytes_read == SQL_NULL_DATA; }

} // namespace qix::sql
