// The component list load end to end through unixODBC and our SQLite-backed driver, with the
// schema VEDUV attached and the driver's ALL_TAB_COLUMNS dictionary view: loads, hostile names,
// backups that cannot be written, a statement cut by the query time-out, and loads with a
// backup when the database cannot be reached.

#include "load_scenarios.h"

#include "LiteSource.h"

#include <qix/sql/functions.h>

#include <sys/resource.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;

class ComponentListLite : public ::testing::Test {
protected:
    void SetUp() override { source_.execute(facility_fixture()); }

    qix::test::LiteSource source_{{"VEDUV"}};
    qix::sql::Database db_{source_.dsn(), "", ""};
};

TEST_F(ComponentListLite, LoadsEveryFacilityView) { check_facility_loads(db_); }

TEST_F(ComponentListLite, HostileComponentNamesRunNoOtherStatement) { check_hostile_component_names(db_); }

TEST_F(ComponentListLite, WritesTheDefaultBackupInTheWorkingFolder)
{
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
    source_.execute({component_table("FAILING_DATA", ", FLAG_Q INTEGER"),
                     component_view("FAILING", "FAILING_DATA", ", FLAG_Q"),
                     "INSERT INTO VEDUV.FAILING_DATA (POS, NAME, FLAG_Q) VALUES (1, 'C1', 1), (2, 'C2', 0), "
                     "(3, 'C3', 70000), (4, 'C4', 1)"});
    ComponentList list;
    const std::string message = message_of([&] { list.read_from_db(db_, "failing"); });
    EXPECT_TRUE(message.starts_with("Unable to fetch row: ")) << message;
    // The load with a backup falls back to the file and leaves it as it was.
    const BackupFile backup;
    EXPECT_EQ(list.read_from_db_with_backup(db_, "failing", backup.path), message);
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup.path), backup.text);
}

TEST_F(ComponentListLite, AnUnwritableBackupStaysAsItWasWithItsErrorReturned)
{
    const qix::test::TempDir dir;
    const std::string backup = (dir / "backup.txt").string();
    ComponentList previous = expected_lumen(); // a backup that differs from what the database holds
    previous.flag_names_[0] = "OLD";
    previous.write_to_file(backup);
    // Writable by its owner only: an unprivileged writer could rewrite it in place otherwise.
    fs::permissions(backup,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const std::string before = slurp(backup);
    const rlimit disk{100, RLIM_INFINITY}; // a disk full after 100 bytes
    const std::pair<std::function<bool()>, std::string> faults[] = {
        // armed in the child once connected
        {[] { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); },
         "Unable to open " + backup + " for writing"},
        {[&disk] { return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ::setrlimit(RLIMIT_FSIZE, &disk) == 0; },
         "Error while writing to " + backup}};
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    for (const auto& [arm, expected] : faults) {
        // From the database, and from the file after the database read failed: either way the
        // write's message is the one returned.
        for (const auto& [facility, loaded] : {std::pair{"lumen", expected_lumen()}, {"missing", previous}}) {
            SCOPED_TRACE(expected + ", facility " + facility);
            EXPECT_TRUE(in_child(false, [&, &arm = arm, &expected = expected, &loaded = loaded] {
                Database db(source_.dsn(), "", "");
                db.connect();
                ComponentList list;
                return arm() && list.read_from_db_with_backup(db, facility, backup) == expected && list == loaded;
            }));
            EXPECT_EQ(slurp(backup), before);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
                << "no temporary file is left behind";
        }
    }
}

TEST_F(ComponentListLite, AStatementPastTheQueryTimeOutIsCutForTheBackup)
{
    // The first row needs an endless count; the library's 10-second time-out ends it. This is
    // the one test that waits that long.
    source_.execute({"CREATE VIEW VEDUV.ENDLESS_VIEW_COMPONENTS AS SELECT V.* FROM VEDUV.CORAL4_VIEW_COMPONENTS V, "
                     "(WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c)"});
    const BackupFile backup;
    ComponentList list;
    const std::string message = list.read_from_db_with_backup(db_, "endless", backup.path);
    EXPECT_TRUE(message.starts_with("Query failed: ") || message.starts_with("Unable to fetch row: ")) << message;
    EXPECT_NE(message.find("query time-out"), std::string::npos) << message;
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup.path), backup.text);
    // The connection outlives the cut statement.
    EXPECT_EQ(db_.read_column_names("ENDLESS_VIEW_COMPONENTS", "VEDUV").size(), 13u);
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
