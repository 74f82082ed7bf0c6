// Workload 6: several connections on one data source of our driver at once. A reader polls
// SELECT max(ID) in auto-commit while another connection, in a thread of its own, commits
// single-row transactions as fast as it can; and the writer's commits while a reader polls.
// Each beside the same work alone. One iteration is one answer or one commit.

#include "bench.h"
#include "raw_odbc.h"
#include "table.h"

#include "LiteSource.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace qix::bench {

namespace {

constexpr const char* kQuery = "SELECT max(ID) FROM CFG.EVENTS";
constexpr const char* kInsert = "INSERT INTO CFG.EVENTS (V) VALUES (1)";
// Counter: what the other connection did per second meanwhile.
constexpr const char* kOtherRate = "other per s";

struct EventSource {
    qix::test::LiteSource lite{{"CFG"}};
};

EventSource& event_source()
{
    static std::unique_ptr<EventSource> source;
    if (!source) {
        source = std::make_unique<EventSource>();
        source->lite.execute({"CREATE TABLE CFG.EVENTS (ID INTEGER PRIMARY KEY, V INTEGER)",
                              "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 1000) "
                              "INSERT INTO CFG.EVENTS (V) SELECT n FROM c"});
        on_release([] { source.reset(); });
    }
    return *source;
}

// One answer of the polling reader: execute, fetch the one value, close the cursor.
void answer(const RawStatement& statement)
{
    check(SQLExecDirect(statement.handle(), (SQLCHAR*)kQuery, SQL_NTS), statement, "the query");
    SQLBIGINT id = 0;
    SQLLEN indicator = 0;
    check(SQLFetch(statement.handle()), statement, "the fetch");
    check(SQLGetData(statement.handle(), 1, SQL_C_SBIGINT, &id, 0, &indicator), statement, "reading max(ID)");
    check(SQLCloseCursor(statement.handle()), statement, "closing the cursor");
    benchmark::DoNotOptimize(id);
}

// One single-row transaction of the writer (auto-commit).
void commit(const RawStatement& statement) { check(SQLExecute(statement.handle()), statement, "the insert"); }

// A connection of its own committing or answering in a thread until stopped; counts what it
// did and keeps its first failure.
class Background {
public:
    Background(const std::string& dsn, bool writer)
        : thread_([this, dsn, writer] {
              try {
                  const RawConnection connection(dsn);
                  const RawStatement statement(connection);
                  if (writer)
                      check(statement.prepare(kInsert), statement, "preparing the insert");
                  for (started_ = std::chrono::steady_clock::now(); !stop_.load(); ++done_)
                      writer ? commit(statement) : answer(statement);
              } catch (const std::exception& e) {
                  error_ = e.what();
              }
              stopped_ = std::chrono::steady_clock::now();
          })
    {
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background() { stop(); }

    /// Stops and joins the thread; returns its failure, if any.
    const std::string& stop()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        return error_;
    }

    /// Commits or answers per second, once stopped.
    [[nodiscard]] double rate() const
    {
        const std::chrono::duration<double> seconds = stopped_ - started_;
        return seconds.count() > 0 ? static_cast<double>(done_) / seconds.count() : 0.0;
    }

private:
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point stopped_{};
    long long done_ = 0;
    std::string error_;
    std::thread thread_;
};

void add_concurrency_benchmark(const std::string& name, bool writer, bool beside_other)
{
    add_benchmark(name, [=](benchmark::State& state) {
        std::unique_ptr<RawConnection> connection;
        std::unique_ptr<RawStatement> statement;
        std::optional<Background> other;
        run_timed(
            state, 1.0,
            [&] {
                const std::string& dsn = event_source().lite.dsn();
                connection = std::make_unique<RawConnection>(dsn);
                statement = std::make_unique<RawStatement>(*connection);
                if (writer)
                    check(statement->prepare(kInsert), *statement, "preparing the insert");
                if (beside_other)
                    other.emplace(dsn, !writer);
            },
            [&] { writer ? commit(*statement) : answer(*statement); });
        if (other) {
            const std::string error = other->stop();
            if (!error.empty())
                state.SkipWithError(("the other connection failed: " + error).c_str());
            state.counters[kOtherRate] = other->rate();
        }
    });
}

} // namespace

void register_concurrency_benchmarks(const Sizes&)
{
    add_concurrency_benchmark("concurrency/reader_alone", false, false);
    add_concurrency_benchmark("concurrency/reader_with_writer", false, true);
    add_concurrency_benchmark("concurrency/writer_alone", true, false);
    add_concurrency_benchmark("concurrency/writer_with_reader", true, true);
    const std::string workload = "6 concurrency, two connections of our driver on one file";
    add_row({workload + ": reader answers/s while a writer commits single-row transactions, vs alone",
             "concurrency/reader_with_writer",
             "concurrency/reader_alone",
             Unit::rows_per_second,
             Check::at_least,
             0.25,
             {}});
    add_row({workload + ": writer commits/s while a reader polls, vs alone",
             "concurrency/writer_with_reader",
             "concurrency/writer_alone",
             Unit::rows_per_second,
             Check::at_least,
             0.25,
             {}});
    add_row({workload + ": commits/s of that writer",
             "concurrency/reader_with_writer",
             {},
             Unit::counter,
             Check::none,
             0.0,
             kOtherRate});
    add_row({workload + ": answers/s of that reader",
             "concurrency/writer_with_reader",
             {},
             Unit::counter,
             Check::none,
             0.0,
             kOtherRate});
}

} // namespace qix::bench
