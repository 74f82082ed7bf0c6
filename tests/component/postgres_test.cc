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

// A fetch failing part-way on PostgreSQL, with the backup taking over: the reliability tests
// terminate the reading backend.

} // namespace
