// Through our driver: faults around a component list load (a backup that cannot be written, a
// statement cut by the query time-out), and hostile names and values in every call that puts
// a name into a statement. Names are refused or neutralised; values, quotes and NUL bytes
// included, travel as parameters unchanged.

#include "hostile_names.h"

#include "LiteSource.h"

#include <sys/resource.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using namespace qix::test::reliability;
using namespace qix::sql;

class LiteFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute(facility_fixture());
        source_.execute(
            {"CREATE TABLE VEDUV.SENTINEL (ID INTEGER)", "INSERT INTO VEDUV.SENTINEL VALUES (1), (2), (3)"});
    }

    qix::test::LiteSource source_{{"VEDUV"}};
    Database db_{source_.dsn(), "", ""};
    qix::test::TempDir dir_;
    const std::string backup_ = (dir_ / "backup.txt").string();
};

TEST_F(LiteFaults, AnUnwritableBackupStaysAsItWasWithItsErrorReturned)
{
    ComponentList previous = expected_lumen(); // a backup that differs from what the database holds
    previous.flag_names_[0] = "OLD";
    previous.write_to_file(backup_);
    // Writable by its owner only: an unprivileged writer could rewrite it in place otherwise.
    fs::permissions(backup_,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const std::string before = slurp(backup_);
    const rlimit disk{100, RLIM_INFINITY}; // a disk full after 100 bytes
    const std::pair<std::function<bool()>, std::string> faults[] = {
        // armed in the child once connected
        {[] { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); },
         "Unable to open " + backup_ + " for writing"},
        {[&disk] { return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ::setrlimit(RLIMIT_FSIZE, &disk) == 0; },
         "Error while writing to " + backup_}};
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
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
                return arm() && list.read_from_db_with_backup(db, facility, backup_) == expected && list == loaded;
            }));
            EXPECT_EQ(slurp(backup_), before);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1)
                << "no temporary file is left behind";
        }
    }
}

TEST_F(LiteFaults, AStatementPastTheQueryTimeOutIsCutForTheBackup)
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

TEST_F(LiteFaults, HostileComponentNamesRunNoOtherStatement) { check_hostile_component_names(db_); }

} // namespace
