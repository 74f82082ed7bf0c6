// Loading with a file backup when the database cannot be reached (a data source the driver
// manager does not know), and the refusal of facility names that cannot name a view or file.

#include "load_scenarios.h"

#include <qix/sql/functions.h>

#include <sys/resource.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;

class UnreachableDatabase : public ::testing::Test {
protected:
    void SetUp() override { (void)qix::test::odbc_config_dir(); }

    qix::test::TempDir dir_;
    Database db_{"qix_no_such_source", "", ""};
    const std::string unreachable_ = message_of([&] { db_.connect(); });
};

TEST_F(UnreachableDatabase, FallsBackToTheBackupAndRewritesItCanonically)
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

    // The rewrite fails (the file size limit stands in for a full disk): only its message is
    // returned, and the file stays as it was.
    spit(backup, "\n" + canonical);
    EXPECT_TRUE(in_child(false, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, RLIM_INFINITY};
        ComponentList loaded;
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
               loaded.read_from_db_with_backup(db_, "lumen", backup.string()) ==
                   "Error while writing to " + backup.string() &&
               loaded == expected_lumen();
    }));
    EXPECT_EQ(slurp(backup), "\n" + canonical);
}

TEST_F(UnreachableDatabase, ThrowsBothMessagesWithoutABackup)
{
    const WorkingDirectory cwd(dir_.path());
    ComponentList list = expected_lumen();
    EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, " lumen ", ""); }),
              unreachable_ + "; Unable to open db_component_list_LUMEN.txt for reading");
    EXPECT_EQ(list, ComponentList());

    // The default name is taken from the standardised facility name, in the working folder.
    expected_lumen().write_to_file((dir_ / "db_component_list_LUMEN_SIM.txt").string());
    EXPECT_EQ(list.read_from_db_with_backup(db_, "lumen.sim", ""), unreachable_);
    EXPECT_EQ(list, expected_lumen());
}

TEST_F(UnreachableDatabase, RefusesInvalidFacilityNamesBeforeAnythingElse)
{
    const WorkingDirectory cwd(dir_.path());
    for (const std::string machine : {"", "  ", ".sim", "lumen;drop", "LU MEN", "a/../b", "lu\tmen", "\xC3\x84",
                                      "x' OR '1'='1"}) {
        const std::string name = qix::sql::standardize_facility_name(machine);
        ComponentList list = expected_lumen();
        EXPECT_EQ(message_of([&] { list.read_from_db(db_, machine); }), "Invalid facility name: " + name);
        EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, machine, ""); }),
                  "Invalid facility name: " + name);
        EXPECT_EQ(message_of([&] { (void)list.read_from_db_with_backup(db_, machine, "explicit.txt"); }),
                  "Invalid facility name: " + name);
        EXPECT_EQ(list, expected_lumen());
    }
    EXPECT_TRUE(fs::is_empty(dir_.path())) << "no backup file was written";
    for (const char* machine : {"lumen", "VLumen", "coral4.sim", "ORB", "tandem"})
        EXPECT_EQ(message_of([&] { ComponentList().read_from_db(db_, machine); }), unreachable_) << machine;
}

} // namespace
