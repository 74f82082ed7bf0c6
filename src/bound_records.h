#pragma once

// Binding and look-up of the column and parameter records that Query and Procedure share.

#include <qix/sql/handles.h>

#include <map>

namespace qix::sql::detail {

using BoundRecords = std::map<int, BoundRecord>;

/// Finds the record of `number` or creates it; a new record starts with a zero length cell.
BoundRecord& record_for(BoundRecords& records, int number);

/// Stores the parameter's record (indicator = `param_option`, or `buf_len` for none) and binds
/// it on `statement` with the record's cell as length/indicator.
void bind_parameter_record(BoundRecords& records, StatementHandle& statement, int param_idx, ParameterType param_type,
                           CDataType c_data_type, SqlDataType sql_data_type, SQLULEN sql_data_type_length_or_precision,
                           SQLSMALLINT decimal_digits, SQLPOINTER buf, SQLLEN buf_len, ParameterOption param_option);

/// Binds an input parameter that carries a database NULL. The indicator says NULL explicitly:
/// not every driver takes a missing buffer for NULL.
void bind_null_parameter(BoundRecords& records, StatementHandle& statement, int param_idx);

/// The record's length, 0 for NULL; std::out_of_range for a number never bound.
unsigned long bytes_read_of(const BoundRecords& records, int number);
/// Whether the record holds SQL_NULL_DATA; std::out_of_range for a number never bound.
bool is_null_in(const BoundRecords& records, int number);

/// Cancels an open statement before it is replaced by another one.
void cancel_if_allocated(StatementHandle& statement) noexcept;

} // namespace qix::sql::detail
