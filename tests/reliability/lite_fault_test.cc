// Through our driver: faults around a component list load (a backup that cannot be written, a
// statement cut by the query time-out), and hostile names and values in every call that puts
// a name into a statement. Names are refused or neutralised; values, quotes and NUL bytes
// included, travel as parameters unchanged.

#include "hostile_names.h"

#include "LiteSource.h"

#include <qix/sql/ConfigurationInterface.h>

#include <sys/resource.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using namespace qix::test::reliability;
using namespace std::string_literals;
using namespace qix::sql;

class LiteFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        source_.execute(facility_fixture());
        // Plain tables under the names of the configuration views suffice here.
        source_.execute({
            "CREATE TABLE VEDUV.SENTINEL (ID INTEGER)",
            "INSERT INTO VEDUV.SENTINEL VALUES (1), (2), (3)",
            "CREATE TABLE CFG.CM_MVIEW_FIELDS (TYPE_ID INTEGER, TYPE_NAME TEXT, FIELD_ID INTEGER, FIELD_NAME TEXT, "
            "FIELD_DESCR TEXT, DATA_TYPE TEXT, REF_TYPE_ID INTEGER, REF_TYPE_NAME TEXT, UNIT_NAME TEXT, "
            "HIDDEN_FLAG INTEGER, NAME_FLAG INTEGER, FACILITY_FLAG INTEGER, ALLOW_NULL_FLAG INTEGER)",
            "INSERT INTO CFG.CM_MVIEW_FIELDS VALUES (1, 'MAGNET', 1, 'NAME', '', 'C', NULL, NULL, NULL, 0, 1, 0, 0), "
            "(1, 'MAGNET', 2, 'NOTES', '', 'C', NULL, NULL, NULL, 0, 0, 0, 1), "
            "(1, 'MAGNET', 3, 'NUMBER', '', 'I', NULL, NULL, NULL, 0, 0, 0, 1)",
            "CREATE TABLE CFG.CM_VIEW_ITEMS (TYPE_ID INTEGER, TYPE_NAME TEXT, PUBLIC_ID INTEGER, ITEM_NAME TEXT, "
            "ITEM_DESCR TEXT, ITEM_FACILITY TEXT, LAST_SEEN TIMESTAMP(6), LAST_MODIFIED TIMESTAMP(6))",
            "INSERT INTO CFG.CM_VIEW_ITEMS VALUES (1, 'MAGNET', 1, 'Q1', NULL, 'NORTH', NULL, NULL)",
            "CREATE TABLE CFG.CM_VIEW_DATA_MAGNET (PUBLIC_ID INTEGER PRIMARY KEY, VERSION_ID INTEGER NOT NULL "
            "DEFAULT 1, NAME TEXT, NOTES TEXT, NUMBER INTEGER)",
            "INSERT INTO CFG.CM_VIEW_DATA_MAGNET VALUES (1, 1, 'Q1', 'first', 7), (2, 1, 'Q2', NULL, 8)",
            // A type whose field list holds names that would rewrite its statements.
            "INSERT INTO CFG.CM_MVIEW_FIELDS VALUES (2, 'HOSTILE', 1, 'NAME', '', 'C', NULL, NULL, NULL, 0, 1, 0, 0), "
            "(2, 'HOSTILE', 2, 'NUMBER', '', 'I', NULL, NULL, NULL, 0, 0, 0, 1), "
            "(2, 'HOSTILE', 3, 'NUMBER = 0 --', '', 'C', NULL, NULL, NULL, 0, 0, 0, 1), "
            "(2, 'HOSTILE', 4, 'NUMBER FROM VEDUV.SENTINEL; DROP TABLE VEDUV.SENTINEL; --', '', 'C', NULL, NULL, "
            "NULL, 0, 0, 0, 1)",
            "CREATE TABLE CFG.CM_VIEW_DATA_HOSTILE (PUBLIC_ID INTEGER PRIMARY KEY, NAME TEXT, NUMBER INTEGER)",
            "INSERT INTO CFG.CM_VIEW_DATA_HOSTILE VALUES (1, 'a', 7), (2, 'b', 8)",
        });
    }

    qix::test::LiteSource source_{{"VEDUV", "CFG"}};
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

TEST_F(LiteFaults, ConfigurationNamesAreRefusedBeforeAnyStatement)
{
    ConfigurationInterface ci(db_, "CFG");
    const auto rows_before = ci.read_data("MAGNET", ConfigurationDataValueMap{}).first;
    const ConfigurationDataValueMap values{{"NOTES", "x"s}};
    // Every call with a type name, as it would be called with a real one.
    const std::vector<std::function<void(const std::string&)>> calls = {
        [&](const auto& type) { (void)ci.read_fields(type); },
        [&](const auto& type) { (void)ci.read_item(type, 1); },
        [&](const auto& type) { (void)ci.read_items(type, "NORTH"); },
        [&](const auto& type) { (void)ci.read_item(type, "Q1"); },
        [&](const auto& type) { (void)ci.read_data(type, "PUBLIC_ID > ?", {0}); },
        [&](const auto& type) { (void)ci.read_data(type, values); },
        [&](const auto& type) { (void)ci.read_data(type, 1, -1); },
        [&](const auto& type) { ci.add_data(type, values); },
        [&](const auto& type) { ci.update_data(type, 1, values); },
        [&](const auto& type) { ci.delete_data(type, 1); },
        [&](const auto& type) { (void)ci.make_item_name(values, type); },
    };
    std::vector<std::string> names = kHostileNames;
    // Names that would keep a statement valid while widening what it touches.
    names.insert(names.end(), {"MAGNET WHERE 1 = 1 --", "MAGNET WHERE PUBLIC_ID > ? OR PUBLIC_ID = ?", "magnet",
                               "MAGNET;", "CFG.CM_VIEW_DATA_MAGNET"});
    for (const std::string& name : names) {
        SCOPED_TRACE("name [" + name + "]");
        for (std::size_t i = 0; i < calls.size(); ++i)
            EXPECT_EQ(message_of([&] { calls[i](name); }),
                      name.empty() ? "Type name cannot be empty." : "Invalid field name")
                << "call " << i;
        EXPECT_EQ(message_of([&] {
                      (void)ci.read_data("MAGNET", {{name, 1}});
                  }),
                  "Invalid field name")
            << "as a field of the equality filter";
    }
    for (const std::string& name : kHostileNames) {
        // A message is C text: it ends at a NUL byte of the name.
        const std::string refusal = ("Invalid schema name: " + name).c_str();
        EXPECT_EQ(message_of([&] { ConfigurationInterface(db_, name); }),
                  name.empty() ? "Schema name cannot be empty." : refusal)
            << "schema [" << name << "]";
    }
    EXPECT_EQ(sentinel_rows(db_), 3);
    EXPECT_EQ(ci.read_data("MAGNET", ConfigurationDataValueMap{}).first, rows_before);
}

TEST_F(LiteFaults, FieldNamesFromTheFieldsViewAreCheckedBeforeAnyStatement)
{
    ConfigurationInterface ci(db_, "CFG");
    const std::string comment_out = "NUMBER = 0 --";
    // Sent, these would read the sentinel, set NUMBER = 0 in every row (the WHERE clause
    // commented out), or insert and drop.
    const std::vector<std::function<void()>> calls = {
        [&] { (void)ci.read_data("HOSTILE", -1, -1); },
        [&] {
            (void)ci.read_data("HOSTILE", ConfigurationDataValueMap{{"NAME", "a"s}});
        },
        [&] {
            ci.update_data("HOSTILE", 1, {{"NAME", "z"s}, {comment_out, "x"s}});
        },
        [&] {
            ci.update_data("HOSTILE", 1, {{"NAME", "z"s}});
        },
        [&] {
            ci.add_data("HOSTILE", {{"NAME", "c"s}, {comment_out, "x"s}});
        },
    };
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(message_of(calls[i]), "Invalid field name") << "call " << i;
    EXPECT_EQ(sentinel_rows(db_), 3);
    EXPECT_EQ(
        (db_.execute_query<std::string, int>("SELECT NAME, NUMBER FROM CFG.CM_VIEW_DATA_HOSTILE ORDER BY PUBLIC_ID")),
        (std::vector<std::tuple<std::string, int>>{{"a", 7}, {"b", 8}}));
}

TEST_F(LiteFaults, ValuesTravelAsParametersWithQuotesAndNulBytes)
{
    ConfigurationInterface ci(db_, "CFG");
    const std::string quoted = "O'Brien'); DELETE FROM CM_VIEW_DATA_MAGNET; --";
    const std::string with_nul = "nul\0inside '\"; DROP TABLE VEDUV.SENTINEL; --"s;
    ci.add_data("MAGNET", {{"NAME", quoted}, {"NOTES", with_nul}, {"NUMBER", 9}});
    auto rows = ci.read_data("MAGNET", {{"NAME", quoted}}).first;
    ASSERT_EQ(rows.size(), 1u);
    const int id = rows[0].id_;
    EXPECT_EQ(rows[0].fields_, (ConfigurationDataValueMap{{"NAME", quoted}, {"NOTES", with_nul}, {"NUMBER", 9}}));
    ci.update_data("MAGNET", id, {{"NAME", with_nul}, {"NOTES", quoted}});
    rows = ci.read_data("MAGNET", "NAME = ? AND NOTES = ?", {with_nul, quoted}).first;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id_, id);
    // Quotes in the values of item look-ups select nothing more.
    EXPECT_EQ(ci.read_item("MAGNET", "Q1' OR '1'='1").id_, -1);
    EXPECT_TRUE(ci.read_items("MAGNET", "NORTH' OR '1'='1").empty());
    EXPECT_EQ(ci.read_items("MAGNET", "NORTH").size(), 1u);
    ci.delete_data("MAGNET", id);
    EXPECT_EQ(ci.read_data("MAGNET", -1, -1).first.size(), 2u);
    EXPECT_EQ(sentinel_rows(db_), 3);
}

} // namespace
