// The component list load against PostgreSQL through psqlODBC, a driver we did not write.

#include "load_scenarios.h"

namespace {

using namespace qix::test::component;

TEST(ComponentListPostgres, LoadsEveryFacilityView)
{
    qix::test::PostgresSource source;
    qix::test::run_raw_statements(source.dsn(), source.user(), with_dictionary(facility_fixture()));
    qix::sql::Database db(source.dsn(), source.user(), "");
    check_facility_loads(db);
}

TEST(ComponentListPostgres, FetchFailurePartWayFallsBackToTheBackup)
{
    // Fetching two rows at a time, the division by zero of the third row arrives with a later
    // fetch, after the first rows were delivered.
    qix::test::PostgresSource source({{"UseDeclareFetch", "1"}, {"Fetch", "2"}});
    qix::test::run_raw_statements(source.dsn(), source.user(), with_dictionary({
        "CREATE TABLE veduv.orb_data (pos integer)", "INSERT INTO veduv.orb_data SELECT generate_series(1, 5)",
        "CREATE VIEW veduv.lumen_view_components AS SELECT 'C' || pos AS name, '' AS real_name, '' AS name2, "
        "'' AS section, '' AS group_, '' AS class, '' AS type_, '' AS friendly_name, 0.0 AS x, 0.0 AS y, "
        "0.0 AS z, 0.0 AS s, '' AS link_name, 10 / (3 - pos) AS flag_q FROM veduv.orb_data"}));
    qix::sql::Database db(source.dsn(), source.user(), "");
    check_fetch_failure_falls_back(db, "ORB");
}

} // namespace
