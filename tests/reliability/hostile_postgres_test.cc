// Hostile names against PostgreSQL, which runs every statement of a text it is sent: an
// injected second statement would run here, and the sentinel table would be gone.

#include "hostile_names.h"
#include "postgres_dictionary.h"

namespace {

using namespace qix::test::component;
using namespace qix::test::reliability;
using qix::sql::ComponentList;
using qix::sql::Database;

constexpr const char* kSentinel = "CREATE TABLE veduv.sentinel AS SELECT generate_series(1, 3) AS id";

TEST(HostileNamesPostgres, FacilityTableAndOwnerNamesRunNoOtherStatement)
{
    qix::test::PostgresSource source;
    auto statements = with_dictionary(facility_fixture());
    statements.push_back(kSentinel);
    // A table whose name holds a quote, a semicolon and a comment marker is still found.
    statements.push_back("CREATE TABLE veduv.\"it's; --\" (a integer, b integer)");
    qix::test::run_raw_statements(source.dsn(), source.user(), statements);
    Database db(source.dsn(), source.user(), "");

    // The proof that a second statement would run here.
    static_cast<void>(db.send_query("SELECT 1; CREATE TABLE veduv.proof (id integer)"));
    EXPECT_EQ(db.read_column_names("PROOF", "VEDUV"), std::vector<std::string>{"id"});

    check_hostile_component_names(db, 3);
    EXPECT_EQ(db.read_column_names("it's; --", "veduv"), (std::vector<std::string>{"a", "b"}));
}

TEST(HostileNamesPostgres, FlagColumnNamesFromTheDictionaryRunNoOtherStatement)
{
    // A column whose quoted name would end the component query and start another one (within
    // PostgreSQL's 63 bytes for a name).
    const std::string columns = "'C1' AS name, '' AS real_name, '' AS name2, '' AS section, '' AS group_, "
                                "'' AS class, '' AS type_, '' AS friendly_name, 0.0 AS x, 0.0 AS y, 0.0 AS z, "
                                "0.0 AS s, '' AS link_name, 1 AS flag_q";
    qix::test::PostgresSource source;
    qix::test::run_raw_statements(
        source.dsn(), source.user(),
        with_dictionary({kSentinel, "CREATE VIEW veduv.v AS SELECT " + columns,
                         "CREATE VIEW veduv.lumen_view_components AS SELECT " + columns +
                             ", 1 AS \"flag_q FROM veduv.v; DROP TABLE veduv.sentinel; --\""}));
    Database db(source.dsn(), source.user(), "");
    ComponentList list;
    EXPECT_EQ(message_of([&] { list.read_from_db(db, "LUMEN"); }),
              "Invalid flag column name: FLAG_Q FROM VEDUV.V; DROP TABLE VEDUV.SENTINEL; --");
    EXPECT_EQ(sentinel_rows(db), 3);
}

} // namespace
