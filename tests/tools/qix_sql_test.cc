// qix-sql run as a process against the demo data source that `qix-sql demo` sets up in a
// temporary folder: its tour, table outputs compared with expected text, JSON parsed back, the
// backup file, the exit statuses and messages of failures, and many processes on the data
// source at once.
#include "DataSource.h"
#include "TestUtil.h"

#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>
#include <qix/util/tessel.h>

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
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

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
    Result result{exit_status(pid), qix::test::slurp(out), qix::test::slurp(err)};
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
        qix::test::spit(path("password.txt"), "e\n");
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static std::map<std::string, std::string> clean_env()
    {
        return {
            {"ODBCINI", ""}, {"ODBCSYSINI", ""}, {"QIX_SQL_DSN", ""}, {"QIX_SQL_USER", ""}, {"QIX_SQL_PASSWORD", ""}};
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

TEST_F(QixSqlTest, DemoWalksThroughTheServicesOnTheDataSourceItMadeBefore)
{
    const Result demo = run_program({"demo", "--dir", "demo"}, dir_->path(), clean_env());
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.out.find("Reusing the demo data: facility LUMEN with 2482 components"), std::string::npos);
    std::size_t steps = 0;
    for (auto pos = demo.out.find("\n$ qix-sql "); pos != std::string::npos;
         pos = demo.out.find("\n$ qix-sql ", pos + 1))
        ++steps;
    EXPECT_EQ(steps, 16u);
    EXPECT_NE(demo.out.find("$ qix-sql config --schema CFG item-name BPM SECTION=S07 CELL=3\nITEM_NAME\nS07/3\n"),
              std::string::npos);
    EXPECT_NE(demo.out.find("export ODBCSYSINI=" + (dir_->path() / "demo").string() + " QIX_SQL_DSN=qix_demo"),
              std::string::npos);
    // The step on a missing data source falls back to the backup file with a warning.
    EXPECT_NE(demo.err.find("qix-sql: warning: Could not connect to data source no_such_source."), std::string::npos);
    EXPECT_TRUE(fs::exists(path("demo/db_component_list_LUMEN.txt")));
}

// Every run changes the power supply it shows before and after its update: the next run starts
// where this one ended, and a run after the item was deleted takes another one.
TEST_F(QixSqlTest, DemoRunContinuesWhereTheLastEnded)
{
    const Result demo = run_program({"demo", "--dir", "demo"}, dir_->path(), clean_env());
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

TEST_F(QixSqlTest, ComponentsInJsonCarryEveryFieldWithItsType)
{
    const auto components = run_json({"components", "--machine", "lumen", "--flag", "bpm", "--sort", "s"});
    ASSERT_EQ(components.size(), 240u);
    for (std::size_t i = 1; i < components.size(); ++i)
        ASSERT_LT(components[i - 1]["S"].get<double>(), components[i]["S"].get<double>());
    EXPECT_EQ(components[0]["NAME"], "BPM.S01.1");
    EXPECT_EQ(components[0]["LINK_NAME"], "S01/1");
    EXPECT_EQ(components[0]["Y"], 1.4);
    EXPECT_EQ(components[0]["FLAGS"], nlohmann::json::array({"BPM", "ACTIVE"}));
}

// An added row becomes an item named by its name fields (modified now: no fixed text to compare).
TEST_F(QixSqlTest, AnAddedRowBecomesAnItemNamedByItsNameFields)
{
    ASSERT_EQ(run({"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=CAV.S30.7"}).status, 0);
    const auto item = run_json({"config", "--schema", "CFG", "item", "RF_CAVITY", "CAV.S30.7"});
    ASSERT_EQ(item.size(), 1u);
    EXPECT_EQ(item[0]["FACILITY"], "LUMEN");
    EXPECT_EQ(item[0]["LAST_SEEN"], nullptr);
    EXPECT_EQ(run({"config", "--schema", "CFG", "delete", "RF_CAVITY", item[0]["ID"].dump()}).status, 0);
}

TEST_F(QixSqlTest, BackupFileServesOfflineOrWhenTheDataSourceFails)
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

    const Result fallback =
        run(with({"components", "--dsn", "no_such_source", "--machine", "lumen", "--backup", "lumen.txt"}));
    EXPECT_EQ(fallback.status, 0) << fallback.err;
    EXPECT_EQ(fallback.out, online.out);
    EXPECT_EQ(fallback.err, "qix-sql: warning: Could not connect to data source no_such_source. Make sure that the "
                            "data source is a valid DSN specified in your odbc.ini file, check that username and "
                            "password are correct, and verify your LD_LIBRARY_PATH setting.\n");

    ASSERT_EQ(run({"components", "--machine", "lumen_sim", "--save", "sim.txt", "--limit", "1"}).status, 0);
    const auto saved = run_json({"components", "--file", "sim.txt", "--name", "qd.s30.8"});
    EXPECT_EQ(saved[0]["FLAGS"], nlohmann::json::array({"QUAD", "ACTIVE"}));
}

// One command line of qix_sql_cases.txt and everything it must print.
struct Step {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 0;
};

// Command lines run one after the other, relying on no other case.
struct Case {
    std::string name;
    std::map<std::string, std::string> env;
    std::vector<Step> steps;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

// The cases in file order; the first lines of the file describe its form.
std::vector<Case> read_cases()
{
    std::ifstream file(QIX_SQL_CASES);
    if (!file)
        throw std::runtime_error("Cannot read " QIX_SQL_CASES);
    std::vector<Case> cases;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with('[')) {
            cases.emplace_back().name = line.substr(1, line.size() - 2);
        } else if (line.starts_with('$')) {
            std::istringstream words(line.substr(1));
            auto& args = cases.back().steps.emplace_back().args;
            for (std::string word; words >> std::quoted(word);)
                args.push_back(word);
        } else if (line.starts_with("env ")) {
            const auto equals = line.find('=');
            cases.back().env[line.substr(4, equals - 4)] = line.substr(equals + 1);
        } else if (line.starts_with("1> ") || line.starts_with("2> ")) {
            (line[0] == '1' ? cases.back().steps.back().out : cases.back().steps.back().err) += line.substr(3) + '\n';
        } else if (line.starts_with("exit ")) {
            cases.back().steps.back().status = std::stoi(line.substr(5));
        } else if (!line.empty() && !line.starts_with('#')) {
            throw std::runtime_error("Unexpected line in " QIX_SQL_CASES ": " + line);
        }
    }
    return cases;
}

class QixSqlCaseTest : public QixSqlTest, public ::testing::WithParamInterface<Case> {
protected:
    static std::string expanded(std::string text)
    {
        for (const auto& [name, value] :
             {std::pair<std::string, std::string>{"{dir}", dir_->path().string()}, {"{version}", QIX_SQL_VERSION}})
            for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
                text.replace(at, name.size(), value);
        return text;
    }
};

TEST_P(QixSqlCaseTest, PrintsExactlyThisAndExits)
{
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(tessel::join(step.args, " "));
        const Result result = run(step.args, GetParam().env);
        EXPECT_EQ(result.out, expanded(step.out));
        EXPECT_EQ(result.err, expanded(step.err));
        EXPECT_EQ(result.status, step.status);
        // A usage error never buries its message: two lines at most.
        if (step.status == 1) {
            EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, QixSqlCaseTest, ::testing::ValuesIn(read_cases()),
                         [](const auto& info) { return info.param.name; });

// Stored values and file lines holding control sequences, line feeds and bytes that are no
// UTF-8: the table and every message show them escaped, CSV keeps them exact, JSON keeps every
// valid text exact and gives the others as their bytes.
TEST_F(QixSqlTest, HostileTextNeverReachesTheTerminal)
{
    const std::string name = "CAV\x1b[31m.X";
    const std::string notes = "title\x1b]0;pwned\x07\nS30  forged row\x7f\xff\xc2\x9b end";
    ASSERT_EQ(run({"config", "--schema", "CFG", "add", "RF_CAVITY", "NAME=" + name, "NOTES=" + notes}).status, 0);
    const std::vector<std::string> read{"config",    "--schema", "CFG",          "data",
                                        "RF_CAVITY", "--eq",     "NAME=" + name, "--format"};
    const struct {
        const char* format;
        std::string out;
    } formats[] = {
        {"table", "PUBLIC_ID  NAME           FREQUENCY_MHZ  VOLTAGE_KV  PHASE_DEG  TUNER_STEPS  CONDITIONED  NOTES\n"
                  "     4009  CAV\\x1B[31m.X                                                                  "
                  "title\\x1B]0;pwned\\x07\\nS30  forged row\\x7F\\xFF\\xC2\\x9B end\n"},
        {"csv", "PUBLIC_ID,NAME,FREQUENCY_MHZ,VOLTAGE_KV,PHASE_DEG,TUNER_STEPS,CONDITIONED,NOTES\n4009," + name +
                    ",,,,,,\"" + notes + "\"\n"},
        {"json",
         "[\n  {\n    \"PUBLIC_ID\": 4009,\n    \"NAME\": \"CAV\\u001b[31m.X\",\n    \"FREQUENCY_MHZ\": null,\n"
         "    \"VOLTAGE_KV\": null,\n    \"PHASE_DEG\": null,\n    \"TUNER_STEPS\": null,\n"
         "    \"CONDITIONED\": null,\n    \"NOTES\": {\n      \"hex\": "
         "\"7469746c651b5d303b70776e6564070a5333302020666f7267656420726f777fffc29b20656e64\"\n    }\n  }\n]\n"}};
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
}

// A list-file line is quoted escaped, and a long one cut with its length.
TEST_F(QixSqlTest, ListFileLinesInMessagesAreEscapedAndCut)
{
    qix::test::spit(path("hostile.txt"), "\x1b]0;pwned\x07\x1b[31mX\n");
    EXPECT_EQ(run({"components", "--file", "hostile.txt"}).err,
              "qix-sql: Unexpected line in hostile.txt: \\x1B]0;pwned\\x07\\x1B[31mX\n");
    qix::test::spit(path("long.txt"), std::string(100000, 'A') + '\n');
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
    } rows[] = {{"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
                {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
                {"\xc0\xaf", "\\xC0\\xAF", "{\"hex\":\"c0af\"}"},
                {"\xe0\x80\xaf", "\\xE0\\x80\\xAF", "{\"hex\":\"e080af\"}"},
                {"\xed\xa0\x80", "\\xED\\xA0\\x80", "{\"hex\":\"eda080\"}"},
                {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "{\"hex\":\"f4908080\"}"},
                {"x\xe2\x82", "x\\xE2\\x82", "{\"hex\":\"78e282\"}"},
                {"\xc2\x85\t", "\\xC2\\x85\\t", "\"\xc2\x85\\t\""}};
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
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"},
                                                                  {"components", "--help"},
                                                                  {"config", "--help"},
                                                                  {"config", "data", "--help"},
                                                                  {"config", "update", "--help"},
                                                                  {"columns", "--help"},
                                                                  {"demo", "--help"}}) {
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
    // A writer is an operator's shell loop; $0 is qix-sql, $1 the writer's number.
    const std::string script = "for r in $(seq " + std::to_string(kRounds) +
                               "); do \"$0\" config --schema CFG update MAGNET_PS $((2001 + $1)) "
                               "CURRENT_A=$(($1 * 100 + r)).5 && \"$0\" config --schema CFG add RF_CAVITY "
                               "NAME=CAV.C$1.$r TUNER_STEPS=$r || exit 1; done";
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.push_back(start_program({"-c", script, QIX_SQL_PROGRAM, std::to_string(w)}, dir_->path(), demo_env(),
                                        std::to_string(w), "/bin/sh"));
    for (const pid_t pid : loaders)
        EXPECT_EQ(exit_status(pid), 0) << "a loader failed (its messages are above)";
    for (int w = 0; w < kWriters; ++w) {
        const Result writer = finish_program(writers[static_cast<std::size_t>(w)], dir_->path(), std::to_string(w));
        EXPECT_EQ(writer.status, 0) << writer.err;
    }

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
