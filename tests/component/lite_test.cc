// The component list load end to end through unixODBC and our SQLite-backed driver, with the
// schema VEDUV attached and the driver's ALL_TAB_COLUMNS dictionary view, and loads with a
// backup when the database cannot be reached.

#include "load_scenarios.h"

#include "LiteSource.h"

#include <qix/sql/functions.h>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;

class ComponentListLite : public ::testing::Test {
protected:
    qix::test::LiteSource source_{{"VEDUV"}};
    qix::sql::Database db_{source_.dsn(), "", ""};
};

TEST_F(ComponentListLite, LoadsEveryFacilityView)
{
    source_.execute(facility_fixture());
    check_facility_loads(db_);
}

TEST_F(ComponentListLite, WritesTheDefaultBackupInTheWorkingFolder)
{
    source_.execute(facility_fixture());
    qix::test::TempDir dir;
    const WorkingDirectory cwd(dir.path());
    ComponentList list;
    EXPECT_EQ(list.read_from_db_with_backup(db_, "  Lumen", ""), "");
    list.read_from_file("db_component_list_LUMEN.txt"); // written from what the database holds
    EXPECT_EQ(list, expected_lumen());
}

TEST_F(ComponentListLite, FetchFailurePartWayFallsBackToTheBackup)
{
    // The third row's flag does not fit an unsigned 16-bit cell; the driver reports it when
    // that row is fetched.
    source_.execute({component_table("ORB_DATA", ", FLAG_Q INTEGER"), component_view("LUMEN", "ORB_DATA", ", FLAG_Q"),
                     "INSERT INTO VEDUV.ORB_DATA (POS, NAME, FLAG_Q) VALUES (1, 'C1', 1), (2, 'C2', 0), "
                     "(3, 'C3', 70000), (4, 'C4', 1)"});
    ComponentList list;
    const std::string message = message_of([&] { list.read_from_db(db_, "orb"); });
    EXPECT_TRUE(message.starts_with("Unable to fetch row: ")) << message;
    // The load with a backup falls back to the file and leaves it as it was.
    const BackupFile backup;
    EXPECT_EQ(list.read_from_db_with_backup(db_, "orb", backup.path), message);
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup.path), backup.text);
}

// A data source the driver manager does not know: loads with a file backup, and the refusal
// of facility names that cannot name a view or file. Backups that cannot be written are the
// reliability tests' part.
class UnreachableDatabase : public ::testing::Test {
protected:
    void SetUp() override { (void)qix::test::odbc_config_dir(); }

    qix::test::TempDir dir_;
    const WorkingDirectory cwd_{dir_.path()};
    qix::sql::Database db_{"qix_no_such_source", "", ""};
    const std::string unreachable_ = message_of([&] { db_.connect(); });
};

TEST_F(UnreachableDatabase, FallsBackToTheBackupRewrittenCanonically)
{
    ASSERT_TRUE(unreachable_.starts_with("Could not connect to data source qix_no_such_source.")) << unreachable_;
    const fs::path backup = dir_ / "sub dir" / "backup.txt";
    fs::create_directory(backup.parent_path());
    expected_lumen().write_to_file(backup.string());
    const std::string canonical = slurp(backup);
    spit(backup, "\n  " + canonical + "\n\n");
    ComponentList list;
    EXPECT_EQ(list.read_from_db_with_backup(db_, "lumen", backup.string()), unreachable_);
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup), canonical);
}

TEST_F(UnreachableDatabase, TakesTheDefaultBackupNameFromTheFacility)
{
    // In the working folder; without it both messages are thrown and the list is emptied.
    ComponentList list = expected_lumen();
    EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, " lumen.sim ", ""); }),
              unreachable_ + "; Unable to open db_component_list_LUMEN_SIM.txt for reading");
    EXPECT_EQ(list, ComponentList());
    expected_lumen().write_to_file((dir_ / "db_component_list_LUMEN_SIM.txt").string());
    EXPECT_EQ(list.read_from_db_with_backup(db_, "lumen.sim", ""), unreachable_);
    EXPECT_EQ(list, expected_lumen());
}

TEST_F(UnreachableDatabase, RefusesInvalidFacilityNamesBeforeAnythingElse)
{
    for (const std::string machine :
         {"", "  ", ".sim", "lumen;drop", "LU MEN", "a/../b", "lu\tmen", "\xC3\x84", "x' OR '1'='1"}) {
        const std::string refusal = "Invalid facility name: " + qix::sql::standardize_facility_name(machine);
        ComponentList list = expected_lumen();
        EXPECT_EQ(message_of([&] { list.read_from_db(db_, machine); }), refusal);
        EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, machine, ""); }), refusal);
        EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, machine, "explicit.txt"); }), refusal);
        EXPECT_EQ(list, expected_lumen());
    }
    EXPECT_TRUE(fs::is_empty(dir_.path())) << "no backup file was written";
    for (const char* machine : {"lumen", "VLumen", "coral4.sim", "ORB", "tandem"})
        EXPECT_EQ(message_of([&] { ComponentList().read_from_db(db_, machine); }), unreachable_) << machine;
}

} // namespace
