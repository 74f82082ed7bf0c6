#pragma once

// The entry points of our SQLite driver as the driver target calls them. The fuzz program links
// the driver's objects (compiled with its sanitizers), so the addresses are the driver's own; the
// test suite's replay loads the driver file it built, beside the driver manager the test
// program links, and looks each name up in that file alone.

#include <sql.h>
#include <sqlext.h>

#define QIX_DRIVER_ENTRY_POINTS(X)                                                                                     \
    X(SQLAllocHandle)                                                                                                  \
    X(SQLFreeHandle)                                                                                                   \
    X(SQLSetEnvAttr)                                                                                                   \
    X(SQLDriverConnect)                                                                                                \
    X(SQLDisconnect)                                                                                                   \
    X(SQLSetConnectAttr)                                                                                               \
    X(SQLGetConnectAttr)                                                                                               \
    X(SQLGetInfo)                                                                                                      \
    X(SQLEndTran)                                                                                                      \
    X(SQLGetDiagRec)                                                                                                   \
    X(SQLGetDiagField)                                                                                                 \
    X(SQLPrepare)                                                                                                      \
    X(SQLExecute)                                                                                                      \
    X(SQLExecDirect)                                                                                                   \
    X(SQLFetch)                                                                                                        \
    X(SQLGetData)                                                                                                      \
    X(SQLBindCol)                                                                                                      \
    X(SQLBindParameter)                                                                                                \
    X(SQLNumResultCols)                                                                                                \
    X(SQLNumParams)                                                                                                    \
    X(SQLDescribeCol)                                                                                                  \
    X(SQLDescribeParam)                                                                                                \
    X(SQLColAttribute)                                                                                                 \
    X(SQLRowCount)                                                                                                     \
    X(SQLMoreResults)                                                                                                  \
    X(SQLCancel)                                                                                                       \
    X(SQLCloseCursor)                                                                                                  \
    X(SQLFreeStmt)                                                                                                     \
    X(SQLSetStmtAttr)                                                                                                  \
    X(SQLGetStmtAttr)                                                                                                  \
    X(SQLTables)                                                                                                       \
    X(SQLColumns)                                                                                                      \
    X(SQLGetTypeInfo)                                                                                                  \
    X(SQLPrimaryKeys)                                                                                                  \
    X(SQLStatistics)                                                                                                   \
    X(SQLSpecialColumns)                                                                                               \
    X(SQLForeignKeys)                                                                                                  \
    X(SQLDriverConnectW)                                                                                               \
    X(SQLPrepareW)                                                                                                     \
    X(SQLExecDirectW)                                                                                                  \
    X(SQLDescribeColW)                                                                                                 \
    X(SQLColAttributeW)                                                                                                \
    X(SQLGetInfoW)                                                                                                     \
    X(SQLGetDiagRecW)                                                                                                  \
    X(SQLGetDiagFieldW)                                                                                                \
    X(SQLGetConnectAttrW)                                                                                              \
    X(SQLGetStmtAttrW)                                                                                                 \
    X(SQLTablesW)                                                                                                      \
    X(SQLColumnsW)                                                                                                     \
    X(SQLPrimaryKeysW)                                                                                                 \
    X(SQLStatisticsW)

namespace qix::fuzz {

struct DriverApi {
#define QIX_DRIVER_MEMBER(name) decltype(&::name) name = nullptr;
    QIX_DRIVER_ENTRY_POINTS(QIX_DRIVER_MEMBER)
#undef QIX_DRIVER_MEMBER
};

/// The driver's entry points, found once.
const DriverApi& driver_api();

} // namespace qix::fuzz
