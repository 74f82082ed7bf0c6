#pragma once

// Reading a result in blocks of rows through column-wise bound arrays.

#include <qix/sql/Query.h>

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace qix::sql::detail {

/// Fetches the result of a sent query in blocks of up to block_size() rows (ODBC rowsets):
/// every bound column is an array of block_size() elements, element r belonging to row r of
/// the block. A driver that refuses blocks above one row keeps delivering one row per fetch,
/// into element 0. The driver keeps pointers into this object and into the bound arrays until
/// the statement is freed, so the Query must be destroyed first (declare it later) or not be
/// fetched again.
class BlockFetch {
public:
    /// Asks the driver of `query` for blocks of `block_size` rows (at least one).
    BlockFetch(Query& query, std::size_t block_size);
    BlockFetch(const BlockFetch&) = delete;
    BlockFetch& operator=(const BlockFetch&) = delete;

    /// The number of elements every bound array holds.
    [[nodiscard]] std::size_t block_size() const noexcept { return block_size_; }

    /// Binds result column `column` to `values`, block_size() elements of `element_size` bytes
    /// of buffer type `type`. Returns the column's length/indicator per row of the block
    /// (SQL_NULL_DATA for NULL), which the driver writes at every fetch.
    std::span<const SQLLEN> bind(int column, CDataType type, void* values, SQLLEN element_size);

    /// Fetches the next block; false after the last. Throws "Unable to fetch row: ..." when
    /// the driver fails the fetch.
    [[nodiscard]] bool fetch();

    /// The rows of the block the last successful fetch delivered.
    [[nodiscard]] std::size_t rows() const noexcept { return blocks_granted_ ? rows_fetched_ : 1; }

    /// Throws "Unable to fetch row: <diagnostics>" when the driver reported row `row` of the
    /// block as failed (SQL_ROW_ERROR): a failed row fails the read, as a failed fetch of a
    /// single row does.
    void check_row(std::size_t row) const;

private:
    Query& query_;
    std::size_t block_size_;
    bool blocks_granted_ = false;
    SQLULEN rows_fetched_ = 0;
    std::vector<SQLUSMALLINT> row_status_;
    std::vector<std::unique_ptr<SQLLEN[]>> indicators_;
};

} // namespace qix::sql::detail
