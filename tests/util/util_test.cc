// Utilities without a database: facility names, strings, escaping, the query cache and
// the ODBC handle owners' own checks.
#include <qix/sql/Cache.h>
#include <qix/sql/functions.h>
#include <qix/sql/handles.h>
#include <qix/util/exceptions.h>
#include <qix/util/file_system.h>
#include <qix/util/string_util.h>
#include <qix/util/tessel.h>

#include "DataSource.h"
#include "TestUtil.h"
#include "cache_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

namespace {

using qix::sql::Cache;
namespace cache_files = qix::sql::cache_files;
using qix::test::message_of;

TEST(FacilityName, EverySpellingMapsToItsCanonicalName)
{
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"   ", ""},
                                                         {"  lumen  ", "LUMEN"},
                                                         {"lumen.sim", "LUMEN_SIM"},
                                                         {"vlumen", "LUMEN_SIM"},
                                                         {"VLUMEN2", "LUMEN_SIM"},
                                                         {"LUMEN.SIMULATION", "LUMEN_SIM"},
                                                         {"orb", "LUMEN"},
                                                         {"ORB-LINAC", "LUMEN"},
                                                         {"CORAL4.TEST", "CORAL4"},
                                                         {"vcoral4", "CORAL4_SIM"},
                                                         {"coral4.sim", "CORAL4_SIM"},
                                                         {"tandem.sim", "TANDEM_SIM"},
                                                         {"vtandem", "TANDEM_SIM"},
                                                         {"TANDEM.ABC.DEF", "TANDEM"},
                                                         {".X", ""},
                                                         {"AB", "AB"},
                                                         {"LU MEN", "LU MEN"},
                                                         {"\tcoral4\n", "CORAL4"}};
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(qix::sql::standardize_facility_name(input), expected) << "input: '" << input << "'";
}

TEST(Strings, EdgeCasesOfTrimAndUppercase)
{
    EXPECT_EQ(tessel::trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(tessel::trim_sv("   "), "");
    EXPECT_EQ(tessel::trim("xxaxx", "x"), "a");
    EXPECT_EQ(tessel::uppercase_ascii("abz-\xe4Z"), "ABZ-\xe4Z");
}

TEST(Escape, PrintableTextStaysAndMalformedSequencesAreKeptAsTheyStand)
{
    for (const std::string text : {"Quad 1", "a<b>c!~\"'", ""})
        EXPECT_EQ(tessel::escape(text), text);
    EXPECT_EQ(tessel::escape("a\\b\nc\rd\te"), "a\\\\b\\nc\\rd\\te");
    for (const std::string text : {"end\\", "\\x4", "\\xZZ", "\\q"})
        EXPECT_EQ(tessel::unescape(text), text);
    EXPECT_EQ(tessel::unescape("\\x41\\x4a"), "AJ");
}

// The escaped form must survive being a line of a trimmed, line-oriented file.
void expect_line_safe(const std::string& value)
{
    const std::string escaped = tessel::escape(value);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    EXPECT_EQ(escaped.find('\r'), std::string::npos);
    EXPECT_EQ(tessel::trim(escaped), escaped);
    EXPECT_FALSE(escaped.starts_with('<'));
    EXPECT_EQ(tessel::unescape(escaped), value);
}

TEST(Escape, EveryByteInEveryPositionAndRandomStringsRoundTrip)
{
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        for (const std::string& value : {std::string(1, c), std::string("a") + c + "b", std::string(2, c),
                                         std::string(1, c) + "x", std::string("x") + c})
            expect_line_safe(value);
    }
    expect_line_safe(" leading and trailing ");
    expect_line_safe("</component>");
    expect_line_safe(std::string("nul\0inside", 10));
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string value(random() % 40, '\0');
        for (char& c : value)
            c = static_cast<char>(random() % 256);
        expect_line_safe(value);
    }
}

TEST(Cache, FileNamesFollowTheQueryDigest)
{
    Cache cache;
    EXPECT_EQ(cache.get_folder(), "db_cache");
    const std::string empty_name = cache.get_full_file_name("");
    EXPECT_EQ(empty_name, "db_cache/6b4e03423667dbb73b6e15454f0eb1abd4597f9a1b078e3f5b5a6bc7.dat");
    EXPECT_EQ(empty_name.size(), 69U);
    EXPECT_EQ(cache.get_full_file_name("SELECT 1"), cache.get_full_file_name("SELECT 1"));
    EXPECT_NE(cache.get_full_file_name("SELECT 1"), cache.get_full_file_name("SELECT  1"));
    EXPECT_NE(cache.get_full_file_name("SELECT 1"), cache.get_full_file_name("select 1"));

    cache.set_folder("/tmp/cache/");
    EXPECT_EQ(cache.get_full_file_name("SELECT 1"),
              "/tmp/cache//cb2e2a292be5f498062dddbbebdbe3083ab03cd9fea5279722ca7569.dat");
    EXPECT_EQ(message_of([&] { cache.set_folder(""); }), "Invalid cache folder: \"\"");
    EXPECT_EQ(cache.get_folder(), "/tmp/cache/");
}

TEST(Cache, FilesAndFoldersOnDiskAndTheMagicHeader)
{
    qix::test::TempDir dir;
    Cache cache;
    cache.set_folder((dir / "a/b/c").string());
    cache_files::create_folder(cache.get_folder());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
    cache_files::create_folder(cache.get_folder()); // an existing folder is fine

    const std::string missing = (dir / "missing.dat").string();
    EXPECT_EQ(message_of([&] { (void)cache_files::open_input(missing); }),
              "Cannot open input file \"" + missing + "\"");
    const std::string no_folder = (dir / "none/x.dat").string();
    EXPECT_EQ(message_of([&] { (void)cache_files::open_output(no_folder); }),
              "Cannot open output file \"" + no_folder + "\"");

    // A file starts with the magic header, which is checked before anything else is read.
    const std::string file = cache.get_full_file_name("SELECT 1");
    cache_files::open_output(file) << "qix_sql_cache_00"
                                   << "data";
    auto in = cache_files::open_input(file);
    cache_files::read_and_check_magic_header(in);
    std::string payload;
    in >> payload;
    EXPECT_EQ(payload, "data");
    std::istringstream short_stream("qix_sql_cache_0");
    EXPECT_EQ(message_of([&] { cache_files::read_and_check_magic_header(short_stream); }), "Cannot read header");
    std::istringstream wrong(std::string("qix_sql_cache_0X\x01payload", 24));
    EXPECT_EQ(message_of([&] { cache_files::read_and_check_magic_header(wrong); }),
              "Invalid header \"qix_sql_cache_0X\", expected \"qix_sql_cache_00\"");

    // A regular file where a folder should be makes the folder impossible to create.
    std::ofstream(dir / "plain") << "x";
    Cache blocked;
    blocked.set_folder((dir / "plain/new").string());
    EXPECT_EQ(message_of([&] { cache_files::create_folder(blocked.get_folder()); }),
              "Unable to create cache folder \"" + (dir / "plain/new").string() + "\"");
}

TEST(FileSystem, MakeDirectoryReportsFailure)
{
    qix::test::TempDir dir;
    EXPECT_TRUE(qix::make_directory((dir / "x/y").string(), 0755));
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(qix::make_directory((dir / "file").string(), 0755));
    EXPECT_FALSE(qix::make_directory((dir / "file/sub").string(), 0755));
    EXPECT_FALSE(qix::make_directory("", 0755));
}

TEST(Handles, OwnersRefuseDoubleAllocationAndUnallocatedUse)
{
    using namespace qix::sql;
    EnvironmentHandle env;
    env.alloc();
    EXPECT_EQ(message_of([&] { env.alloc(); }), "Refusing to allocate an already allocated SQL environment handle");
    ConnectionHandle conn;
    EXPECT_EQ(message_of([&] { conn.alloc(EnvironmentHandle{}); }), "SQL environment handle is not allocated");
    conn.alloc(env);
    EXPECT_EQ(message_of([&] { conn.alloc(env); }), "Refusing to allocate an already allocated SQL connection handle");
    StatementHandle stmt;
    EXPECT_EQ(message_of([&] { stmt.alloc(ConnectionHandle{}); }), "SQL connection handle is not allocated");
    EXPECT_EQ(message_of([&] { stmt.send_query("SELECT 1"); }),
              "Need to allocate a statement handle before a query can be executed");
    EXPECT_EQ(message_of([&] { (void)stmt.fetch(); }), "Cannot fetch from an unallocated SQL handle");
    EXPECT_EQ(message_of([&] { stmt.cancel(); }), "Cannot cancel an unallocated SQL handle");
    EXPECT_EQ(message_of([&] { stmt.execute("x"); }), "Unallocated SQL statement");
    EXPECT_EQ(message_of([&] { (void)stmt.get_data_as_string(1, nullptr); }), "Unallocated SQL statement");
}

TEST(Handles, MovedOwnerLeavesNothingToFree)
{
    qix::sql::EnvironmentHandle env;
    env.alloc();
    qix::sql::ConnectionHandle conn;
    conn.alloc(env);
    qix::sql::ConnectionHandle moved(std::move(conn));
    EXPECT_FALSE(conn.is_allocated());
    EXPECT_TRUE(moved.is_allocated());
    moved.free();
    moved.free();
    EXPECT_FALSE(moved.is_allocated());
}

} // namespace
