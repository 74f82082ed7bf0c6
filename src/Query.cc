#include <qix/sql/Query.h>
#include <qix/util/exceptions.h>

#include "bound_records.h"

#include <utility>

namespace qix::sql {

namespace {

template <typename DataType>
constexpr CDataType column_buffer_type();
template <>
constexpr CDataType column_buffer_type<char>()
{
    return CDataType::c_char;
}
template <>
constexpr CDataType column_buffer_type<unsigned short>()
{
    return CDataType::c_ushort;
}
template <>
constexpr CDataType column_buffer_type<double>()
{
    return CDataType::c_double;
}
template <>
constexpr CDataType column_buffer_type<int>()
{
    return CDataType::c_slong;
}
template <>
constexpr CDataType column_buffer_type<long long>()
{
    return CDataType::c_sbigint;
}

// Buffer type, SQL type and column size of a typed input parameter.
struct ParameterTypes {
    CDataType c_type;
    SqlDataType sql_type;
    SQLULEN column_size;
};
template <typename DataType>
constexpr ParameterTypes parameter_types();
template <>
constexpr ParameterTypes parameter_types<char>()
{
    return {CDataType::c_char, SqlDataType::s_varchar, 0};
}
template <>
constexpr ParameterTypes parameter_types<int>()
{
    return {CDataType::c_slong, SqlDataType::s_integer, 10};
}
template <>
constexpr ParameterTypes parameter_types<double>()
{
    return {CDataType::c_double, SqlDataType::s_double, 53};
}

} // namespace

Query::Query(const std::string& query, const ConnectionHandle& connection_handle) : query_(query)
{
    statement_.alloc(connection_handle);
}

// The records travel with the statement: map nodes keep their addresses when the map is
// moved, so the driver's pointers to the length/indicator cells stay valid.
Query::Query(Query&& ori) noexcept
    : statement_(std::move(ori.statement_)), query_(std::move(ori.query_)), column_info_(std::move(ori.column_info_)),
      param_info_(std::move(ori.param_info_)), is_sent_(ori.is_sent_)
{
    ori.query_.clear();
    ori.is_sent_ = false;
}

Query& Query::operator=(Query&& ori) noexcept
{
    if (this != &ori) {
        detail::cancel_if_allocated(statement_);
        statement_ = std::move(ori.statement_);
        query_ = std::move(ori.query_);
        column_info_ = std::move(ori.column_info_);
        param_info_ = std::move(ori.param_info_);
        is_sent_ = ori.is_sent_;
        ori.query_.clear();
        ori.column_info_.clear();
        ori.param_info_.clear();
        ori.is_sent_ = false;
    }
    return *this;
}

Query::~Query()
{
    if (statement_.is_allocated())
        statement_.cancel();
}

void Query::bind_column(int column, CDataType datatype, SQLPOINTER buf, SQLLEN buf_len)
{
    ColumnInfo& record = detail::record_for(column_info_, column);
    record.datatype = datatype;
    record.buf = buf;
    record.buf_len = buf_len;
    statement_.bind_column(column, datatype, buf, buf_len, &record.bytes_read);
}

template <typename DataType>
void Query::bind_column(int column, DataType* buf, std::size_t num_elements)
{
    bind_column(column, column_buffer_type<DataType>(), buf, static_cast<SQLLEN>(num_elements * sizeof(DataType)));
}

template void Query::bind_column<char>(int, char*, std::size_t);
template void Query::bind_column<unsigned short>(int, unsigned short*, std::size_t);
template void Query::bind_column<double>(int, double*, std::size_t);
template void Query::bind_column<int>(int, int*, std::size_t);
template void Query::bind_column<long long>(int, long long*, std::size_t);

void Query::bind_parameter(int param_idx, ParameterType param_type, CDataType c_data_type, SqlDataType sql_data_type,
                           SQLULEN sql_data_type_length_or_precision, SQLSMALLINT decimal_digits, SQLPOINTER buf,
                           SQLLEN buf_len, ParameterOption param_option)
{
    detail::bind_parameter_record(param_info_, statement_, param_idx, param_type, c_data_type, sql_data_type,
                                  sql_data_type_length_or_precision, decimal_digits, buf, buf_len, param_option);
}

template <typename DataType>
void Query::bind_parameter(int param_idx, const DataType* buf, std::size_t num_elements, ParameterOption param_option)
{
    constexpr ParameterTypes types = parameter_types<DataType>();
    bind_parameter(param_idx, ParameterType::in, types.c_type, types.sql_type, types.column_size, 0,
                   const_cast<DataType*>(buf), static_cast<SQLLEN>(num_elements * sizeof(DataType)), param_option);
}

template void Query::bind_parameter<char>(int, const char*, std::size_t, ParameterOption);
template void Query::bind_parameter<int>(int, const int*, std::size_t, ParameterOption);
template void Query::bind_parameter<double>(int, const double*, std::size_t, ParameterOption);

void Query::bind_parameter(int param_idx, std::nullptr_t)
{
    detail::bind_null_parameter(param_info_, statement_, param_idx);
}

void Query::send()
{
    // Sending again must not fail on the cursor that the previous execution left open.
    if (is_sent_)
        statement_.close_cursor();
    statement_.send_query(query_);
    is_sent_ = true;
}

bool Query::fetch()
{
    if (!is_sent_)
        throw Error("Must send query before fecthing data!");
    return statement_.fetch();
}

unsigned long Query::get_bytes_read(int column) const { return detail::bytes_read_of(column_info_, column); }

bool Query::is_null(int column) const { return detail::is_null_in(column_info_, column); }

bool Query::get_column(int column, SQLPOINTER buf, SQLLEN buf_len, SQLSMALLINT datatype)
{
    SQLLEN indicator = 0;
    statement_.get_data(column, datatype, buf, buf_len, &indicator);
    return indicator != SQL_NULL_DATA;
}

double Query::get_column_as_double(int column, bool* was_null)
{
    double value = 0.0;
    const bool has_value = get_column(column, &value, sizeof value, SQL_C_DOUBLE);
    if (was_null != nullptr)
        *was_null = !has_value;
    return value;
}

std::int32_t Query::get_column_as_int32_t(int column, bool* was_null)
{
    std::int32_t value = 0;
    const bool has_value = get_column(column, &value, sizeof value, SQL_C_SLONG);
    if (was_null != nullptr)
        *was_null = !has_value;
    return value;
}

std::string Query::get_column_as_string(int column, bool* was_null)
{
    return statement_.get_data_as_string(column, was_null);
}

std::vector<unsigned char> Query::get_column_as_binary(int column, bool* was_null)
{
    return statement_.get_data_as_binary(column, was_null);
}

int Query::get_column_count() { return statement_.get_column_count(); }

} // namespace qix::sql
