// qix-sql run as a process against the demo data source that `qix-sql demo` sets up in a
// temporary folder: its tour, table outputs compared with expected text, JSON parsed back, the
// backup file, and the exit statuses and messages of failures.
#include "DataSource.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs qix-sql with `args` in `cwd`; `env` entries are set (an empty value unsets the variable).
Result run_program(const std::vector<std::string>& args, const fs::path& cwd,
                   const std::map<std::string, std::string>& env)
{
    const fs::path out = cwd / ".stdout";
    const fs::path err = cwd / ".stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        if (::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> argv{const_cast<char*>(QIX_SQL_PROGRAM)};
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(QIX_SQL_PROGRAM, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
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

    // qix-sql as a user runs it after the two exports the demo recommends.
    static Result run(const std::vector<std::string>& args, std::map<std::string, std::string> env = {})
    {
        auto full = clean_env();
        full["ODBCSYSINI"] = (dir_->path() / "demo").string();
        full["QIX_SQL_DSN"] = "qix_demo";
        for (auto& [name, value] : env)
            full[name] = value;
        return run_program(args, dir_->path(), full);
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
    EXPECT_EQ(steps, 15u);
    EXPECT_NE(demo.out.find("$ qix-sql config --schema CFG item-name BPM SECTION=S07 CELL=3\nITEM_NAME\nS07/3\n"),
              std::string::npos);
    EXPECT_NE(demo.out.find("export ODBCSYSINI=" + (dir_->path() / "demo").string() + " QIX_SQL_DSN=qix_demo"),
              std::string::npos);
    // The step on a missing data source falls back to the backup file with a warning.
    EXPECT_NE(demo.err.find("qix-sql: warning: Could not connect to data source no_such_source."), std::string::npos);
    EXPECT_TRUE(fs::exists(path("demo/db_component_list_LUMEN.txt")));
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
        ASSERT_LT(components[i - 1]["s"].get<double>(), components[i]["s"].get<double>());
    EXPECT_EQ(components[0]["name"], "BPM.S01.1");
    EXPECT_EQ(components[0]["link_name"], "S01/1");
    EXPECT_EQ(components[0]["y"], 1.4);
    EXPECT_EQ(components[0]["flags"], nlohmann::json::array({"BPM", "ACTIVE"}));

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
    ASSERT_EQ(run({"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=CAV.S30.7", "FREQUENCY_MHZ=499.654",
                   "TUNER_STEPS=-12", "NOTES=Tuned, \"warm\" start"})
                  .status,
              0);
    EXPECT_EQ(run({"config", "--schema", "CFG", "data", "RF_CAVITY", "--eq", "NAME=CAV.S30.7", "--format", "csv"}).out,
              "PUBLIC_ID,NAME,FREQUENCY_MHZ,VOLTAGE_KV,PHASE_DEG,TUNER_STEPS,CONDITIONED,NOTES\n"
              "4009,CAV.S30.7,499.654,,,-12,,\"Tuned, \"\"warm\"\" start\"\n");
    const auto item = run_json({"config", "--schema", "CFG", "item", "RF_CAVITY", "CAV.S30.7"});
    ASSERT_EQ(item.size(), 1u);
    EXPECT_EQ(item[0]["facility"], "LUMEN");
    EXPECT_TRUE(item[0]["last_seen"].is_null());
    const std::string id = std::to_string(item[0]["id"].get<int>());
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
              "name,real_name,name2,section,group,class,type,friendly_name,link_name,x,y,z,s,flags");

    const Result offline = run(with({"components", "--file", "lumen.txt"}), {{"QIX_SQL_DSN", ""}});
    EXPECT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(offline.out, online.out);

    const Result fallback = run(with({"components", "--dsn", "no_such_source", "--machine", "lumen", "--backup", "lumen.txt"}));
    EXPECT_EQ(fallback.status, 0) << fallback.err;
    EXPECT_EQ(fallback.out, online.out);
    EXPECT_EQ(fallback.err.rfind("qix-sql: warning: Could not connect to data source no_such_source.", 0), 0u);

    ASSERT_EQ(run({"components", "--machine", "lumen_sim", "--save", "sim.txt", "--limit", "1"}).status, 0);
    const Result saved = run({"components", "--file", "sim.txt", "--name", "qd.s30.8", "--format", "json"});
    EXPECT_EQ(nlohmann::json::parse(saved.out)[0]["flags"], nlohmann::json::array({"QUAD", "ACTIVE"}));
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

    // Usage errors show the message and the help of the command that was given.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"components", "--machine", "lumen", "--range", "1", "2"},
             {"components", "--flag", "quad"},
             {"components", "--machine", "lumen", "--sort", "x"},
             {"config", "--schema", "CFG", "update", "MAGNET_PS", "2001", "CURRENT_A=high"},
             {"config", "--schema", "CFG", "add", "MAGNET_PS", "VOLTAGE=3"}}) {
        const Result usage = run(args);
        EXPECT_EQ(usage.status, 1) << args[2];
        EXPECT_EQ(usage.err.rfind("qix-sql: ", 0), 0u) << usage.err;
        EXPECT_NE(usage.err.find("Usage: qix-sql " + args[0]), std::string::npos) << usage.err;
        EXPECT_EQ(usage.out, "");
    }
    const Result no_command = run({});
    EXPECT_EQ(no_command.status, 1);

    // A password given in a file is used but never shown, even where a driver might echo it.
    std::ofstream(path("password.txt")) << "pa55-word\n";
    const Result with_password =
        run({"--password-file", "password.txt", "--dsn", "pa55-word", "components", "--machine", "lumen"});
    EXPECT_EQ(with_password.status, 2);
    EXPECT_EQ(with_password.err.find("pa55-word"), std::string::npos) << with_password.err;
    EXPECT_NE(with_password.err.find("data source ***"), std::string::npos) << with_password.err;
    EXPECT_EQ(run({"--password-file", "password.txt", "config", "--schema", "CFG", "types"}).status, 0);
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

} // namespace
