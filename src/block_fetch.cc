#include "block_fetch.h"

#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

namespace qix::sql::detail {

BlockFetch::BlockFetch(Query& query, std::size_t block_size)
    : query_(query), block_size_(block_size > 0 ? block_size : 1)
{
    if (block_size_ == 1)
        return;
    StatementHandle& statement = query_.statement();
    try {
        statement.set_attribute(AttributeType::row_array_size, reinterpret_cast<SQLPOINTER>(block_size_), 0);
    } catch (const Error&) {
        return; // row by row
    }
    row_status_.resize(block_size_);
    statement.set_attribute(AttributeType::rows_fetched_ptr, &rows_fetched_, 0);
    statement.set_attribute(AttributeType::row_status_ptr, row_status_.data(), 0);
    blocks_granted_ = true;
}

std::span<const SQLLEN> BlockFetch::bind(int column, CDataType type, void* values, SQLLEN element_size)
{
    auto& indicators = indicators_.emplace_back(std::make_unique<SQLLEN[]>(block_size_));
    query_.statement().bind_column(column, type, values, element_size, indicators.get());
    return {indicators.get(), block_size_};
}

bool BlockFetch::fetch() { return query_.fetch(); }

void BlockFetch::check_row(std::size_t row) const
{
    if (blocks_granted_ && row_status_[row] == SQL_ROW_ERROR)
        throw Error(tessel::cat("Unable to fetch row: ", query_.statement().get_error_message()));
}

} // namespace qix::sql::detail
