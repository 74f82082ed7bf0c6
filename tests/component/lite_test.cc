// The component list load end to end through unixODBC and our SQLite-backed driver, with the
// schema VEDUV attached and the driver's ALL_TAB_COLUMNS dictionary view.

#include "load_scenarios.h"

#include "LiteSource.h"

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;

class ComponentListLite : public ::testing::Test {
protected:
    qix::test::LiteSource source_{{"VEDUV"}};
    Database db_{source_.dsn(), "", ""};
};

TEST_F(ComponentListLite, LoadsEveryFacilityView)
{
    source_.execute(facility_fixture());
    check_facility_loads(db_);
}

TEST_F(ComponentListLite, FetchFailurePartWayFallsBackToTheBackup)
{
    // The third row's flag does not fit an unsigned 16-bit cell; the driver reports it when
    // that row is fetched.
    source_.execute({data_table("ORB_DATA", ", FLAG_Q INTEGER"), component_view("LUMEN", "ORB_DATA", ", FLAG_Q"),
                     "INSERT INTO VEDUV.ORB_DATA (POS, NAME, FLAG_Q) VALUES (1, 'C1', 1), (2, 'C2', 0), "
                     "(3, 'C3', 70000), (4, 'C4', 1)"});
    check_fetch_failure_falls_back(db_, "orb");
}

TEST_F(ComponentListLite, KeepsTheBackupInTheWorkingFolderByDefault)
{
    source_.execute(facility_fixture());
    qix::test::TempDir dir;
    const WorkingDirectory cwd(dir.path());
    ComponentList list;
    EXPECT_EQ(list.read_from_db_with_backup(db_, "  Lumen", ""), "");
    EXPECT_EQ(list, expected_lumen());
    ComponentList from_file;
    from_file.read_from_file("db_component_list_LUMEN.txt");
    EXPECT_EQ(from_file, expected_lumen());

    // A backup folder that does not exist: the database content, and the write error.
    const std::string unwritable = (dir / "missing" / "backup.txt").string();
    list.clear();
    EXPECT_EQ(list.read_from_db_with_backup(db_, "LUMEN", unwritable), "Unable to open " + unwritable + " for writing");
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

} // namespace
