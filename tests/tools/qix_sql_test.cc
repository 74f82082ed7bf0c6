// qix-sql run as a process against the demo data source that `qix-sql demo` sets up in a
// temporary folder: its tour, table outputs compared with expected text, JSON parsed back, the
// backup file, the exit statuses and messages of failures, and many processes on the data
// source at once.
#include "DataSource.h"

#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts `program` (qix-sql unless told otherwise) with `args` in `cwd`, its output going to
// files named after `tag`; `env` entries are set (an empty value unsets the variable).
pid_t start_program(const std::vector<std::string>& args, const fs::path& cwd,
                    const std::map<std::string, std::string>& env, const std::string& tag,
                    const std::string& program = QIX_SQL_PROGRAM)
{
    const fs::path out = cwd / (".stdout" + tag);
    const fs::path err = cwd / (".stderr" + tag);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for a child process: its exit status, or -1 when a signal ended it.
int exit_status(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for a process started by start_program and collects its output.
Result finish_program(pid_t pid, const fs::path& cwd, const std::string& tag)
{
    const fs::path out = cwd / (".stdout" + tag);
    const fs::path err = cwd / (".stderr" + tag);
    Result result{exit_status(pid), read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
}

Result run_program(const std::vector<std::string>& args, const fs::path& cwd,
                   const std::map<std::string, std::string>& env, const std::string& program = QIX_SQL_PROGRAM)
{
    return finish_program(start_program(args, cwd, env, "", program), cwd, "");
}

class QixSqlTest : public ::testing::Test {
protected:
    // One demo data source per test program, set up by qix-sql itself.
    static void SetUpTestSuite()
    {
        dir_ = std::make_unique<qix::test::TempDir>();
        const Result setup = run_program({"demo", "--dir", "demo", "--no-tour"}, dir_->path(), clean_env());
        ASSERT_EQ(setup.status, 0) << setup.out << setup.err;
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static std::map<std::string, std::string> clean_env()
    {
        return {{"ODBCINI", ""}, {"ODBCSYSINI", ""}, {"QIX_SQL_DSN", ""}, {"QIX_SQL_USER", ""}, {"QIX_SQL_PASSWORD", ""}};
    }

    // The environment of a user who ran the two exports the demo recommends.
    static std::map<std::string, std::string> demo_env(const std::map<std::string, std::string>& env = {})
    {
        auto full = clean_env();
        full["ODBCSYSINI"] = (dir_->path() / "demo").string();
        full["QIX_SQL_DSN"] = "qix_demo";
        for (auto& [name, value] : env)
            full[name] = value;
        return full;
    }

    // qix-sql as a user runs it after the two exports the demo recommends.
    static Result run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
    {
        return run_program(args, dir_->path(), demo_env(env));
    }

    static nlohmann::json run_json(const std::vector<std::string>& args)
    {
        auto all = args;
        all.insert(all.end(), {"--format", "json"});
        const Result result = run(all);
        EXPECT_EQ(result.status, 0) << result.err;
        return nlohmann::json::parse(result.out);
    }

    static fs::path path(const std::string& name) { return dir_->path() / name; }

    static inline std::unique_ptr<qix::test::TempDir> dir_;
};

TEST_F(QixSqlTest, DemoWalksThroughTheServicesAndReusesItsDataSource)
{
    const Result demo = run_program({"demo", "--dir", "demo"}, dir_->path(), clean_env());
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.out.find("Reusing the demo data: facility LUMEN with 2482 components"), std::string::npos);
    std::size_t steps = 0;
    for (auto pos = demo.out.find("\n$ qix-sql "); pos != std::string::npos; pos = demo.out.find("\n$ qix-sql ", pos + 1))
        ++steps;
    EXPECT_EQ(steps, 16u);
    EXPECT_NE(demo.out.find("$ qix-sql config --schema CFG item-name BPM SECTION=S07 CELL=3\nITEM_NAME\nS07/3\n"),
              std::string::npos);
    EXPECT_NE(demo.out.find("export ODBCSYSINI=" + (dir_->path() / "demo").string() + " QIX_SQL_DSN=qix_demo"),
              std::string::npos);
    // The step on a missing data source falls back to the backup file with a warning.
    EXPECT_NE(demo.err.find("qix-sql: warning: Could not connect to data source no_such_source."), std::string::npos);
    EXPECT_TRUE(fs::exists(path("demo/db_component_list_LUMEN.txt")));

    // Every run changes the power supply it shows before and after its update: the next run
    // starts where this one ended, and a run after the item was deleted takes another one.
    const auto shown = [](const std::string& out, const std::string& id) {
        const std::string step = "$ qix-sql config --schema CFG data MAGNET_PS --id " + id + "\n";
        std::vector<std::string> tables;
        for (auto pos = out.find(step); pos != std::string::npos; pos = out.find(step, pos + 1))
            tables.push_back(out.substr(pos + step.size(), out.find("\n\n", pos) - pos - step.size()));
        return tables;
    };
    const auto first = shown(demo.out, "2031");
    ASSERT_EQ(first.size(), 2u) << demo.out;
    EXPECT_NE(first[0], first[1]);
    const Result again = run_program({"demo", "--dir", "demo"}, dir_->path(), clean_env());
    const auto second = shown(again.out, "2031");
    ASSERT_EQ(second.size(), 2u) << again.out;
    EXPECT_EQ(second[0], first[1]);
    EXPECT_NE(second[0], second[1]);
    ASSERT_EQ(run({"config", "--schema", "CFG", "delete", "MAGNET_PS", "2031"}).status, 0);
    const Result deleted = run_program({"demo", "--dir", "demo"}, dir_->path(), clean_env());
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_NE(deleted.out.find("Updated item 2001 of type MAGNET_PS.\n"), std::string::npos) << deleted.out;
}

TEST_F(QixSqlTest, TablesAreAlignedWithAHeaderAndFlagsByName)
{
    EXPECT_EQ(run({"components", "--machine", "lumen", "--flag", "quad", "--range", "120", "125"}).out,
              "NAME      SECTION  CLASS  TYPE        Z       S  FLAGS\n"
              "QF.S07.1  S07      QUAD   QF    119.094  120.25  QUAD ACTIVE\n"
              "QD.S07.1  S07      QUAD   QD    120.405   121.6  QUAD ACTIVE\n"
              "QF.S07.2  S07      QUAD   QF    121.521  122.75  QUAD ACTIVE\n"
              "QD.S07.2  S07      QUAD   QD     122.83   124.1  QUAD ACTIVE\n");
    EXPECT_EQ(run({"components", "--machine", "LUMEN", "--flag", "active", "--range", "120", "125", "--cells",
                   "bpm\\..*", "--before", "0.3", "--after", "0.3"})
                  .out,
              "CELL  NAME       SECTION  CLASS      TYPE              Z       S  FLAGS\n"
              "   1  QF.S07.1   S07      QUAD       QF          119.094  120.25  QUAD ACTIVE\n"
              "   1  BPM.S07.1  S07      MONITOR    BPM_BUTTON  119.385  120.55  BPM ACTIVE\n"
              "   1  CH.S07.1   S07      CORRECTOR  HCOR        119.628   120.8  CORRECTOR ACTIVE\n"
              "   2  QF.S07.2   S07      QUAD       QF          121.521  122.75  QUAD ACTIVE\n"
              "   2  BPM.S07.2  S07      MONITOR    BPM_BUTTON  121.812  123.05  BPM ACTIVE\n"
              "   2  CH.S07.2   S07      CORRECTOR  HCOR        122.054   123.3  CORRECTOR ACTIVE\n");
    EXPECT_EQ(run({"config", "--schema", "CFG", "fields", "BPM"}).out,
              " ID  NAME         CODE  UNIT  REFERENCE  NAME_FIELD  HIDDEN  FACILITY_FIELD  ALLOW_NULL  DESCRIPTION\n"
              "301  SECTION      C                      yes         no      no              no          Section of the machine\n"
              "302  CELL         I                      yes         no      no              no          Cell within the section\n"
              "303  CRATE        R           CRATE      no          no      no              no          Crate of the electronics\n"
              "304  GAIN_DB      F     dB               no          no      no              no          Amplifier gain\n"
              "305  OFFSET_X     F     mm               no          no      no              no          Horizontal offset\n"
              "306  OFFSET_Y     F     mm               no          no      no              no          Vertical offset\n"
              "307  INSTALLED    T                      no          no      no              yes         Date of installation\n"
              "308  FIRMWARE     C                      no          no      no              yes         Firmware version\n"
              "309  CALIBRATION  B                      no          yes     no              yes         Calibration table\n");
    EXPECT_EQ(run({"config", "--schema", "CFG", "items", "CRATE", "--facility", "LUMEN_SIM"}).out,
              "  ID  NAME     FACILITY   LAST_SEEN                   LAST_MODIFIED               DESCRIPTION\n"
              "1031  CR.SIM1  LUMEN_SIM  2025-02-13 18:57:42.504169  2024-09-11 21:55:19.804505\n"
              "1032  CR.SIM2  LUMEN_SIM  2025-04-14 20:51:50.671502  2024-01-05 04:32:27.538645\n");
    EXPECT_EQ(run({"components", "--machine", "lumen_sim", "--flag", "cavity", "--limit", "1"}).out,
              "NAME       SECTION  CLASS   TYPE             Z       S  FLAGS\n"
              "CAV.S15.3  S15      CAVITY  RF_500MHZ  270.699  286.05  CAVITY ACTIVE\n"
              "(1 of 8 rows shown)\n");
}

TEST_F(QixSqlTest, JsonCarriesEveryFieldWithItsType)
{
    const auto components = run_json({"components", "--machine", "lumen", "--flag", "bpm", "--sort", "s"});
    ASSERT_EQ(components.size(), 240u);
    for (std::size_t i = 1; i < components.size(); ++i)
        ASSERT_LT(components[i - 1]["S"].get<double>(), components[i]["S"].get<double>());
    EXPECT_EQ(components[0]["NAME"], "BPM.S01.1");
    EXPECT_EQ(components[0]["LINK_NAME"], "S01/1");
    EXPECT_EQ(components[0]["Y"], 1.4);
    EXPECT_EQ(components[0]["FLAGS"], nlohmann::json::array({"BPM", "ACTIVE"}));

    // Written values come back with the type of their field, timestamps as timestamp text.
    ASSERT_EQ(run({"config", "--schema", "CFG", "update", "MAGNET_PS", "2001", "CURRENT_A=101.5", "POLARITY=-1",
                   "LAST_CALIBRATION=2025-06-02 09:30:00.000042", "SETTINGS=null"})
                  .status,
              0);
    const auto rows = run_json({"config", "--schema", "CFG", "data", "MAGNET_PS", "--id", "2001"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], nlohmann::json::parse(R"({"PUBLIC_ID": 2001, "SECTION": "S01", "FAMILY": "QF", "CRATE": 1001,
        "CURRENT_A": 101.5, "MAX_CURRENT_A": 200.0, "POLARITY": -1, "LAST_CALIBRATION": "2025-06-02 09:30:00.000042",
        "SETTINGS": null})"));

    // A row added through the view becomes an item named by its name fields; delete removes both.
    const Result add = run({"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=CAV.S30.7", "FREQUENCY_MHZ=499.654",
                            "TUNER_STEPS=-12", "NOTES=Tuned, \"warm\" start"});
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(add.out, "Added item 4009 of type RF_CAVITY.\n");
    EXPECT_EQ(run({"config", "--schema", "CFG", "data", "RF_CAVITY", "--eq", "NAME=CAV.S30.7", "--format", "csv"}).out,
              "PUBLIC_ID,NAME,FREQUENCY_MHZ,VOLTAGE_KV,PHASE_DEG,TUNER_STEPS,CONDITIONED,NOTES\n"
              "4009,CAV.S30.7,499.654,,,-12,,\"Tuned, \"\"warm\"\" start\"\n");
    const auto item = run_json({"config", "--schema", "CFG", "item", "RF_CAVITY", "CAV.S30.7"});
    ASSERT_EQ(item.size(), 1u);
    EXPECT_EQ(item[0]["FACILITY"], "LUMEN");
    EXPECT_TRUE(item[0]["LAST_SEEN"].is_null());
    const std::string id = std::to_string(item[0]["ID"].get<int>());
    const auto added = run_json({"config", "--schema", "CFG", "data", "RF_CAVITY", "--eq", "NAME=CAV.S30.7"});
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]["TUNER_STEPS"], -12);
    EXPECT_TRUE(added[0]["VOLTAGE_KV"].is_null());
    ASSERT_EQ(run({"config", "--schema", "CFG", "delete", "RF_CAVITY", id}).status, 0);
    EXPECT_TRUE(run_json({"config", "--schema", "CFG", "data", "RF_CAVITY", "--id", id}).empty());
    EXPECT_EQ(run_json({"config", "--schema", "CFG", "data", "BPM", "--where", "SECTION = ? AND CELL > ?", "--param",
                        "S07", "--param", "6"})
                  .size(),
              2u);
}

TEST_F(QixSqlTest, BackupFileServesOfflineAndWhenTheDataSourceFails)
{
    const std::vector<std::string> select{"--flag", "corrector", "--range", "100", "200", "--format", "csv"};
    auto with = [&select](std::vector<std::string> args) {
        args.insert(args.end(), select.begin(), select.end());
        return args;
    };
    const Result online = run(with({"components", "--machine", "lumen", "--backup", "lumen.txt"}));
    ASSERT_EQ(online.status, 0) << online.err;
    EXPECT_EQ(online.err, "");
    EXPECT_EQ(online.out.substr(0, online.out.find('\n')),
              "NAME,REAL_NAME,NAME2,SECTION,GROUP,CLASS,TYPE,FRIENDLY_NAME,LINK_NAME,X,Y,Z,S,FLAGS");

    const Result offline = run(with({"components", "--file", "lumen.txt"}), {{"QIX_SQL_DSN", ""}});
    EXPECT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(offline.out, online.out);

    const Result fallback = run(with({"components", "--dsn", "no_such_source", "--machine", "lumen", "--backup", "lumen.txt"}));
    EXPECT_EQ(fallback.status, 0) << fallback.err;
    EXPECT_EQ(fallback.out, online.out);
    EXPECT_EQ(fallback.err, "qix-sql: warning: Could not connect to data source no_such_source. Make sure that the "
                            "data source is a valid DSN specified in your odbc.ini file, check that username and "
                            "password are correct, and verify your LD_LIBRARY_PATH setting.\n");

    ASSERT_EQ(run({"components", "--machine", "lumen_sim", "--save", "sim.txt", "--limit", "1"}).status, 0);
    const auto saved = run_json({"components", "--file", "sim.txt", "--name", "qd.s30.8"});
    EXPECT_EQ(saved[0]["FLAGS"], nlohmann::json::array({"QUAD", "ACTIVE"}));
}

TEST_F(QixSqlTest, FailuresExitWithStatusAndMessage)
{
    const Result wrong_dsn = run({"--dsn", "nowhere", "columns", "VEDUV", "LUMEN_VIEW_COMPONENTS"},
                                 {{"QIX_SQL_PASSWORD", "pa55-word"}});
    EXPECT_EQ(wrong_dsn.status, 2);
    EXPECT_EQ(wrong_dsn.err.rfind("qix-sql: Could not connect to data source nowhere.", 0), 0u) << wrong_dsn.err;

    const Result missing_file = run({"components", "--file", "no-such-list.txt"});
    EXPECT_EQ(missing_file.status, 2);
    EXPECT_EQ(missing_file.err, "qix-sql: Unable to open no-such-list.txt for reading\n");

    const Result bad_flag = run({"components", "--machine", "lumen", "--flag", "magnet"});
    EXPECT_EQ(bad_flag.status, 2);
    EXPECT_EQ(bad_flag.err,
              "qix-sql: lumen has no flag magnet (its flags: QUAD DIPOLE SEXTUPOLE CORRECTOR BPM CAVITY VACUUM ACTIVE)\n");

    const Result no_item = run({"config", "--schema", "CFG", "item", "BPM", "S99/1"});
    EXPECT_EQ(no_item.status, 2);
    EXPECT_EQ(no_item.err, "qix-sql: Type BPM has no item S99/1\n");

    // The password is used and never put into a message, so no other text is masked.
    std::ofstream(path("password.txt")) << "e\n";
    const Result with_password = run({"--password-file", "password.txt", "--dsn", "nowhere", "columns", "A", "B"});
    EXPECT_EQ(with_password.status, 2);
    EXPECT_EQ(with_password.err.substr(0, with_password.err.find('\n')),
              "qix-sql: Could not connect to data source nowhere.");
    EXPECT_EQ(run({"--password-file", "password.txt", "config", "--schema", "CFG", "types"}).status, 0);
}

// One command line and everything it must print: standard output and error exactly ({dir}
// stands for the folder of the demo data source), and the exit status.
struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    std::map<std::string, std::string> env = {};
};

std::ostream& operator<<(std::ostream& out, const Case& c)
{
    return out << c.name;
}

std::string with_dir(std::string text, const std::string& dir)
{
    for (auto pos = text.find("{dir}"); pos != std::string::npos; pos = text.find("{dir}", pos + dir.size()))
        text.replace(pos, 5, dir);
    return text;
}

const std::string kNoMagnetPsu =
    "qix-sql: Schema CFG has no type MAGNET_PSU (its types: BPM CRATE MAGNET_PS RF_CAVITY)\n";
const std::string kConnectAdvice =
    "Make sure that the data source is a valid DSN specified in your odbc.ini file, check that username and "
    "password are correct, and verify your LD_LIBRARY_PATH setting.\n"
    "[IM002] [unixODBC][Driver Manager]Data source name not found and no default driver specified\n";

std::string usage(const std::string& message, const std::string& command)
{
    return "qix-sql: " + message + "\nRun '" + command + " --help' for the usage.\n";
}

const Case kCases[] = {
    // Writes claim only what changed.
    {"UpdateOfAMissingId", {"config", "--schema", "CFG", "update", "RF_CAVITY", "99999", "NOTES=x"}, 2, "",
     "qix-sql: Type RF_CAVITY has no item with id 99999: nothing was updated\n"},
    {"DeleteOfAMissingId", {"config", "--schema", "CFG", "delete", "RF_CAVITY", "99999"}, 2, "",
     "qix-sql: Type RF_CAVITY has no item with id 99999: nothing was deleted\n"},
    {"AddTellsThePublicId", {"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=CAV.S30.8", "NOTES=null"}, 0,
     "Added item 4009 of type RF_CAVITY.\n", ""},
    // Every command checks the type first.
    {"FieldsOfAnUnknownType", {"config", "--schema", "CFG", "fields", "MAGNET_PSU"}, 2, "", kNoMagnetPsu},
    {"ItemsOfAnUnknownType", {"config", "--schema", "CFG", "items", "magnet_psu"}, 2, "", kNoMagnetPsu},
    {"ItemOfAnUnknownType", {"config", "--schema", "CFG", "item", "MAGNET_PSU", "S01/QF"}, 2, "", kNoMagnetPsu},
    {"DataOfAnUnknownType", {"config", "--schema", "CFG", "data", "MAGNET_PSU"}, 2, "", kNoMagnetPsu},
    {"ItemNameOfAnUnknownType", {"config", "--schema", "CFG", "item-name", "MAGNET_PSU", "SECTION=S01"}, 2, "",
     kNoMagnetPsu},
    {"AddToAnUnknownType", {"config", "--schema", "CFG", "add", "MAGNET_PSU", "SECTION=S01"}, 2, "", kNoMagnetPsu},
    {"UpdateOfAnUnknownType", {"config", "--schema", "CFG", "update", "MAGNET_PSU", "2001", "SECTION=S01"}, 2, "",
     kNoMagnetPsu},
    {"DeleteOfAnUnknownType", {"config", "--schema", "CFG", "delete", "MAGNET_PSU", "2001"}, 2, "", kNoMagnetPsu},
    {"TypeFieldAndSchemaInAnyCase", {"config", "--schema", "cfg", "item-name", "bpm", "section=S07", "Cell=3"}, 0,
     "ITEM_NAME\nS07/3\n", ""},
    {"UnknownFieldListsTheFields", {"config", "--schema", "CFG", "add", "MAGNET_PS", "voltage=3"}, 1, "",
     usage("Type MAGNET_PS has no field VOLTAGE (its fields: SECTION FAMILY CRATE CURRENT_A MAX_CURRENT_A POLARITY "
           "LAST_CALIBRATION SETTINGS)",
           "qix-sql config add")},
    // A failed connect keeps the driver manager's words.
    {"MisspelledDataSource", {"--dsn", "qix_dmo", "config", "--schema", "CFG", "types"}, 2, "",
     "qix-sql: Could not connect to data source qix_dmo.\n" + kConnectAdvice +
         "hint: the driver manager reads data sources from ODBCINI (not set: ~/.odbc.ini) and from odbc.ini in "
         "ODBCSYSINI ({dir}/demo); qix-sql demo prints the exports for its data source\n"},
    {"NoOdbcSysIni", {"config", "--schema", "CFG", "types"}, 2, "",
     "qix-sql: Could not connect to data source qix_demo.\n" + kConnectAdvice +
         "hint: the driver manager reads data sources from ODBCINI (not set: ~/.odbc.ini) and from odbc.ini in "
         "ODBCSYSINI (not set: /etc); qix-sql demo prints the exports for its data source\n",
     {{"ODBCSYSINI", ""}}},
    // Usage errors: the message in words and where the help is.
    {"FormatOutOfTheChoices", {"--format", "xml", "config", "--schema", "CFG", "types"}, 1, "",
     usage("--format: xml is not one of table, csv, json", "qix-sql config types")},
    {"NegativeDistance", {"components", "--machine", "lumen", "--cells", "BPM.*", "--before", "-1"}, 1, "",
     usage("--before: must be 0 or more (not -1)", "qix-sql components")},
    {"NegativeLimit", {"--limit", "-1", "components", "--machine", "lumen"}, 1, "",
     usage("--limit: must be 0 or more (not -1)", "qix-sql components")},
    {"NegativeId", {"config", "--schema", "CFG", "delete", "BPM", "-3"}, 1, "",
     usage("ID: must be 0 or more (not -3)", "qix-sql config delete")},
    {"RangeOfText", {"components", "--machine", "lumen", "--flag", "quad", "--range", "1", "end"}, 1, "",
     usage("--range: must be a number (not end)", "qix-sql components")},
    {"UnknownOption", {"components", "--machne", "lumen"}, 1, "",
     usage("Unknown option --machne (nearest: --machine)", "qix-sql components")},
    {"UnknownCommand", {"frob"}, 1, "",
     usage("Unknown command frob (the commands of qix-sql: components, config, columns, demo)", "qix-sql")},
    {"UnknownConfigCommand", {"config", "--schema", "CFG", "frob"}, 1, "",
     usage("Unknown command frob (the commands of qix-sql config: types, fields, items, item, data, item-name, add, "
           "update, delete)",
           "qix-sql config")},
    {"NoCommand", {}, 1, "", usage("A subcommand is required", "qix-sql")},
    {"SortNoneWithRange", {"components", "--machine", "lumen", "--flag", "quad", "--range", "120", "125", "--sort", "none"},
     1, "", usage("--sort none cannot go with --range: positions are along s or z (--sort s or --sort z)",
                  "qix-sql components")},
    {"SortNoneWithCells", {"components", "--machine", "lumen", "--cells", "BPM.*", "--sort", "NONE"}, 1, "",
     usage("--sort none cannot go with --cells: positions are along s or z (--sort s or --sort z)",
           "qix-sql components")},
    {"RangeWithoutFlag", {"components", "--machine", "lumen", "--range", "1", "2"}, 1, "",
     usage("--range requires --flag", "qix-sql components")},
    {"ValueOfTheWrongKind", {"config", "--schema", "CFG", "update", "MAGNET_PS", "2001", "CURRENT_A=high"}, 1, "",
     usage("high is not a number (field CURRENT_A is of data type F)", "qix-sql config update")},
    {"ParamsBeyondThePlaceholders",
     {"config", "--schema", "CFG", "data", "BPM", "--where", "CELL = ? AND SECTION <> '?'", "--param", "1", "--param",
      "2"},
     1, "", usage("--where has 1 ? placeholder(s) but 2 --param value(s) were given", "qix-sql config data")},
    {"Version", {"--version"}, 0, std::string("qix-sql ") + QIX_SQL_VERSION + "\n", ""},
    // Empty results say so; a reversed range gets a hint.
    {"EmptyResult", {"config", "--schema", "CFG", "items", "CRATE", "--facility", "NOWHERE"}, 0,
     "ID  NAME  FACILITY  LAST_SEEN  LAST_MODIFIED  DESCRIPTION\n(0 rows)\n", ""},
    {"ReversedRange", {"components", "--machine", "lumen", "--flag", "quad", "--range", "125", "120"}, 0,
     "NAME  SECTION  CLASS  TYPE  Z  S  FLAGS\n(0 rows)\n",
     "qix-sql: hint: --range 125 120 is reversed: START must not exceed END\n"},
    // Files that cannot be written say why.
    {"SaveIntoAMissingFolder", {"components", "--machine", "lumen_sim", "--save", "no-folder/sim.txt", "--limit", "1"}, 2,
     "", "qix-sql: Unable to open no-folder/sim.txt for writing (No such file or directory)\n"},
    {"BackupIntoAMissingFolder",
     {"components", "--machine", "lumen_sim", "--backup", "no-folder/sim.txt", "--name", "QD.S30.8", "--format", "csv"},
     0,
     "NAME,REAL_NAME,NAME2,SECTION,GROUP,CLASS,TYPE,FRIENDLY_NAME,LINK_NAME,X,Y,Z,S,FLAGS\n"
     "QD.S30.8,QD3008,LUMEN:S30:C8:QD,S30,S30.C8,QUAD,QD,Defocusing quadrupole 8 of section S30,S30/QD,317.983,1.4,"
     "465.693,599.1,QUAD ACTIVE\n",
     "qix-sql: warning: Unable to open no-folder/sim.txt for writing (No such file or directory)\n"},
    // The same header in every format.
    {"CsvHeaderInCapitals", {"config", "--schema", "CFG", "types", "--format", "csv", "--limit", "1"}, 0,
     "ID,NAME,FACILITY,CATEGORY,GROUP,DESCRIPTION\n30,BPM,LUMEN,DIAGNOSTICS,INSTRUMENTATION,Beam position monitor "
     "electronics\n",
     ""},
};

class QixSqlCaseTest : public QixSqlTest, public ::testing::WithParamInterface<Case> {};

TEST_P(QixSqlCaseTest, PrintsExactlyThisAndExits)
{
    const Case& c = GetParam();
    const Result result = run(c.args, c.env);
    const std::string dir = dir_->path().string();
    EXPECT_EQ(result.out, with_dir(c.out, dir));
    EXPECT_EQ(result.err, with_dir(c.err, dir));
    EXPECT_EQ(result.status, c.status);
    // A usage error never buries its message: two lines at most.
    if (c.status == 1) {
        EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, QixSqlCaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Stored values and file lines holding control sequences, line feeds and bytes that are no
// UTF-8: the table and every message show them escaped, CSV keeps them exact, JSON keeps every
// valid text exact and gives the others as their bytes.
TEST_F(QixSqlTest, HostileTextNeverReachesTheTerminal)
{
    const std::string name = "CAV\x1b[31m.X";
    const std::string notes = "title\x1b]0;pwned\x07\nS30  forged row\x7f\xff\xc2\x9b end";
    ASSERT_EQ(run({"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=" + name, "NOTES=" + notes}).status, 0);
    const std::vector<std::string> read{"config", "--schema", "CFG", "data", "RF_CAVITY", "--eq", "NAME=" + name,
                                        "--format"};
    const struct {
        const char* format;
        std::string out;
    } formats[] = {
        {"table", "PUBLIC_ID  NAME           FREQUENCY_MHZ  VOLTAGE_KV  PHASE_DEG  TUNER_STEPS  CONDITIONED  NOTES\n"
                  "     4009  CAV\\x1B[31m.X                                                                  "
                  "title\\x1B]0;pwned\\x07\\nS30  forged row\\x7F\\xFF\\xC2\\x9B end\n"},
        {"csv", "PUBLIC_ID,NAME,FREQUENCY_MHZ,VOLTAGE_KV,PHASE_DEG,TUNER_STEPS,CONDITIONED,NOTES\n4009," + name +
                    ",,,,,,\"" + notes + "\"\n"},
        {"json", "[\n  {\n    \"PUBLIC_ID\": 4009,\n    \"NAME\": \"CAV\\u001b[31m.X\",\n    \"FREQUENCY_MHZ\": null,\n"
                 "    \"VOLTAGE_KV\": null,\n    \"PHASE_DEG\": null,\n    \"TUNER_STEPS\": null,\n"
                 "    \"CONDITIONED\": null,\n    \"NOTES\": {\n      \"hex\": "
                 "\"7469746c651b5d303b70776e6564070a5333302020666f7267656420726f777fffc29b20656e64\"\n    }\n  }\n]\n"},
    };
    for (const auto& [format, out] : formats) {
        SCOPED_TRACE(format);
        auto args = read;
        args.push_back(format);
        const Result result = run(args);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(run({"config", "--schema", "CFG", "item", "RF_CAVITY", name + "\n"}).err,
              "qix-sql: Type RF_CAVITY has no item CAV\\x1B[31m.X\\n\n");

    // A list-file line is quoted escaped, and a long one cut with its length.
    std::ofstream(path("hostile.txt"), std::ios::binary) << "\x1b]0;pwned\x07\x1b[31mX\n";
    EXPECT_EQ(run({"components", "--file", "hostile.txt"}).err,
              "qix-sql: Unexpected line in hostile.txt: \\x1B]0;pwned\\x07\\x1B[31mX\n");
    std::ofstream(path("long.txt"), std::ios::binary) << std::string(100000, 'A') << '\n';
    const Result long_line = run({"components", "--file", "long.txt"});
    EXPECT_EQ(long_line.status, 2);
    const std::string head = "qix-sql: Unexpected line in long.txt: ";
    // The library quotes a line of more than 1000 bytes by its first 200 and its length.
    EXPECT_EQ(long_line.err, head + std::string(200, 'A') + "\u2026(100000 bytes)\n");
}

// Only well-formed UTF-8 passes as it is: overlong forms, surrogates, code points past U+10FFFF
// and cut sequences are escaped in the table and given as bytes in JSON.
TEST_F(QixSqlTest, TextIsPrintedAsItIsOnlyWhenItIsUtf8)
{
    const struct {
        std::string text;
        std::string table;
        std::string json;
    } rows[] = {
        {"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
        {"\xc0\xaf", "\\xC0\\xAF", "{\"hex\":\"c0af\"}"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80", "{\"hex\":\"eda080\"}"},
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "{\"hex\":\"f4908080\"}"},
        {"x\xe2\x82", "x\\xE2\\x82", "{\"hex\":\"78e282\"}"},
        {"\xc2\x85\t", "\\xC2\\x85\\t", "\"\xc2\x85\\t\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.table);
        const std::vector<std::string> args{"config", "--schema", "CFG", "item-name", "RF_CAVITY", "NAME=" + row.text};
        EXPECT_EQ(run(args).out, "ITEM_NAME\n" + row.table + "\n");
        EXPECT_EQ(run_json(args)[0]["ITEM_NAME"].dump(), row.json);
    }
}

// The README's programs for the demo data source run as they stand.
TEST_F(QixSqlTest, ReadmeProgramsRunAgainstTheDemoDataSource)
{
    std::stringstream programs(QIX_README_DEMO_PROGRAMS);
    std::size_t count = 0;
    for (std::string program; std::getline(programs, program, '|'); ++count) {
        SCOPED_TRACE(program);
        const Result result = run_program({}, dir_->path(), demo_env(), program);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("QF.S07.1 at s = 120.25 m\n"), std::string::npos) << result.out;
    }
    EXPECT_EQ(count, 1u);
}

TEST_F(QixSqlTest, HelpOfEveryCommandHasExamples)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"components", "--help"}, {"config", "--help"}, {"config", "data", "--help"},
             {"config", "update", "--help"}, {"columns", "--help"}, {"demo", "--help"}}) {
        const Result help = run(args);
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("qix-sql "), std::string::npos);
        EXPECT_NE(help.out.find("Example"), std::string::npos) << help.out;
    }
}

// A control program at start-up: loads the facility's component list through the library a
// few times in a process of its own. Exits 0 when every load gave the whole list.
pid_t start_loader(const fs::path& demo, int loads)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    int status = 0;
    try {
        ::setenv("ODBCSYSINI", demo.c_str(), 1);
        ::unsetenv("ODBCINI");
        for (int i = 0; i < loads; ++i) {
            qix::sql::Database database("qix_demo", "", "");
            qix::sql::ComponentList list;
            list.read_from_db(database, "lumen");
            if (list.components_.size() != 2482) {
                std::fprintf(stderr, "load %d gave %zu components\n", i, list.components_.size());
                status = 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "load failed: %s\n", e.what());
        status = 1;
    }
    ::_exit(status);
}

// PRAGMA integrity_check of one SQLite file, read beside the driver.
std::string integrity_of(const fs::path& file)
{
    sqlite3* db = nullptr;
    std::string answer = "cannot open";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return answer;
}

TEST_F(QixSqlTest, ControlProgramsLoadWhileOperatorsWriteAndNothingIsLost)
{
    // Four processes load the component list through the library while four others each run
    // qix-sql again and again to change a magnet's current and add a cavity, all at once.
    constexpr int kWriters = 4;
    constexpr int kRounds = 12;
    std::vector<pid_t> loaders;
    for (int i = 0; i < 4; ++i)
        loaders.push_back(start_loader(path("demo"), 8));
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int failures = 0;
            for (int round = 1; round <= kRounds; ++round) {
                const std::string tag = "." + std::to_string(w);
                const std::string current = "CURRENT_A=" + std::to_string(w * 100 + round) + ".5";
                const std::vector<std::vector<std::string>> commands = {
                    {"config", "--schema", "CFG", "update", "MAGNET_PS", std::to_string(2001 + w), current},
                    {"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=CAV.C" + std::to_string(w) + "." +
                                                                          std::to_string(round),
                     "TUNER_STEPS=" + std::to_string(round)}};
                for (const auto& command : commands) {
                    const Result result = finish_program(start_program(command, dir_->path(), demo_env(), tag),
                                                         dir_->path(), tag);
                    if (result.status != 0) {
                        std::fprintf(stderr, "%s", result.err.c_str());
                        ++failures;
                    }
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : loaders)
        EXPECT_EQ(exit_status(pid), 0) << "a loader failed (its messages are above)";
    for (const pid_t pid : writers)
        EXPECT_EQ(exit_status(pid), 0) << "a writer failed (its messages are above)";

    const auto magnets = run_json({"config", "--schema", "CFG", "data", "MAGNET_PS", "--where", "PUBLIC_ID <= ?",
                                   "--param", std::to_string(2000 + kWriters)});
    ASSERT_EQ(magnets.size(), static_cast<std::size_t>(kWriters));
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(magnets[static_cast<std::size_t>(w)]["CURRENT_A"], w * 100 + kRounds + 0.5) << "the last update";
    const auto cavities =
        run_json({"config", "--schema", "CFG", "data", "RF_CAVITY", "--where", "NAME LIKE ?", "--param", "CAV.C%"});
    ASSERT_EQ(cavities.size(), static_cast<std::size_t>(kWriters * kRounds));
    int steps = 0;
    for (const auto& cavity : cavities)
        steps += cavity["TUNER_STEPS"].get<int>();
    EXPECT_EQ(steps, kWriters * kRounds * (kRounds + 1) / 2);
    for (const char* file : {"demo/demo.db", "demo/CFG.db", "demo/VEDUV.db"})
        EXPECT_EQ(integrity_of(path(file)), "ok") << file;
}

} // namespace
