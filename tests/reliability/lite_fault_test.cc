// Faults around a component list load through our driver: a backup that cannot be written
// (read-only folder, full disk) and a statement cut by the query time-out.

#include "fault_util.h"
#include "load_scenarios.h"

#include "LiteSource.h"

#include <sys/resource.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;
using qix::sql::Database;

class LiteFaults : public ::testing::Test {
protected:
    qix::test::LiteSource source_{{"VEDUV"}};
    qix::test::TempDir dir_;
    const std::string backup_ = (dir_ / "backup.txt").string();

    // A backup that differs from what the database holds.
    static ComponentList previous_list()
    {
        ComponentList list;
        list.flag_names_ = {"OLD"};
        list.components_ = {make_component({"OLD1"}, {1, 2, 3, 4}, {true})};
        return list;
    }
};

TEST_F(LiteFaults, AnUnwritableBackupStaysAsItWasAndItsErrorIsReturned)
{
    source_.execute(facility_fixture());
    previous_list().write_to_file(backup_);
    const std::string before = slurp(backup_);
    const auto only_the_backup_is_there = [&] {
        return std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()) == 1;
    };

    struct Fault {
        const char* name;
        std::function<bool()> arm; // run in the child after it has connected
        std::string message;
    };
    const Fault faults[] = {
        {"read-only folder", qix::test::reliability::become_nobody, "Unable to open " + backup_ + " for writing"},
        {"full disk",
         [] {
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{100, RLIM_INFINITY};
             return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
         },
         "Error while writing to " + backup_},
    };
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    for (const Fault& fault : faults) {
        // From the database, and from the file after the database read failed: either way the
        // write's message is the one returned.
        for (const auto& [facility, loaded] : {std::pair{"lumen", expected_lumen()}, {"missing", previous_list()}}) {
            SCOPED_TRACE(std::string(fault.name) + ", facility " + facility);
            EXPECT_TRUE(in_child(false, [&] {
                Database db(source_.dsn(), "", "");
                db.connect();
                ComponentList list;
                return fault.arm() && list.read_from_db_with_backup(db, facility, backup_) == fault.message &&
                       list == loaded;
            }));
            EXPECT_EQ(slurp(backup_), before);
            EXPECT_TRUE(only_the_backup_is_there()) << "no temporary file is left behind";
        }
    }
}

TEST_F(LiteFaults, AStatementPastTheQueryTimeOutIsCutAndTheBackupTakesOver)
{
    // The first row needs an endless count; the library's 10-second time-out ends it. This is
    // the one test that waits that long.
    source_.execute({"CREATE VIEW VEDUV.LUMEN_VIEW_COMPONENTS AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                     "SELECT x + 1 FROM c) SELECT 'C' || count(*) AS NAME, '' AS REAL_NAME, '' AS NAME2, "
                     "'' AS SECTION, '' AS GROUP_, '' AS CLASS, '' AS TYPE_, '' AS FRIENDLY_NAME, 0.0 AS X, "
                     "0.0 AS Y, 0.0 AS Z, 0.0 AS S, '' AS LINK_NAME, 1 AS FLAG_Q FROM c"});
    expected_lumen().write_to_file(backup_);
    const std::string before = slurp(backup_);
    Database db(source_.dsn(), "", "");
    ComponentList list;
    const std::string message = list.read_from_db_with_backup(db, "lumen", backup_);
    EXPECT_TRUE(message.starts_with("Query failed: ") || message.starts_with("Unable to fetch row: ")) << message;
    EXPECT_NE(message.find("query time-out"), std::string::npos) << message;
    EXPECT_EQ(list, expected_lumen());
    EXPECT_EQ(slurp(backup_), before);

    // The connection outlives the cut statement.
    EXPECT_EQ(db.read_column_names("LUMEN_VIEW_COMPONENTS", "VEDUV").size(), 14u);
}

} // namespace
