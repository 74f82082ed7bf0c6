#include "bound_records.h"

namespace qix::sql::detail {

BoundRecord& record_for(BoundRecords& records, int number)
{
    return records.try_emplace(number, BoundRecord{CDataType::c_char, nullptr, 0, 0}).first->second;
}

void bind_parameter_record(BoundRecords& records, StatementHandle& statement, int param_idx, ParameterType param_type,
                           CDataType c_data_type, SqlDataType sql_data_type, SQLULEN sql_data_type_length_or_precision,
                           SQLSMALLINT decimal_digits, SQLPOINTER buf, SQLLEN buf_len, ParameterOption param_option)
{
    BoundRecord& record = record_for(records, param_idx);
    record.buf_len = buf_len;
    record.datatype = c_data_type;
    record.buf = buf;
    record.bytes_read = param_option != ParameterOption::none ? static_cast<SQLLEN>(param_option) : buf_len;
    statement.bind_parameter(static_cast<SQLUSMALLINT>(param_idx), param_type, c_data_type, sql_data_type,
                             sql_data_type_length_or_precision, decimal_digits, buf, buf_len, &record.bytes_read);
}

void bind_null_parameter(BoundRecords& records, StatementHandle& statement, int param_idx)
{
    bind_parameter_record(records, statement, param_idx, ParameterType::in, CDataType::c_slong, SqlDataType::s_integer,
                          10, 0, nullptr, 0, ParameterOption::null_data);
}

unsigned long bytes_read_of(const BoundRecords& records, int number)
{
    const SQLLEN length = records.at(number).bytes_read;
    return length == SQL_NULL_DATA ? 0UL : static_cast<unsigned long>(length);
}

bool is_null_in(const BoundRecords& records, int number) { return records.at(number).bytes_read == SQL_NULL_DATA; }

void cancel_if_allocated(StatementHandle& statement) noexcept
{
    if (statement.is_allocated())
        SQLCancel(statement());
}

} // namespace qix::sql::detail
