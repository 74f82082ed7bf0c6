// The component list file: exact bytes, round trips, every format error with the state it
// leaves, and writes that fail without harming the previous file.

#include <qix/sql/ComponentList.h>
#include <qix/util/exceptions.h>

#include "DataSource.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::Component;
using qix::sql::ComponentList;

constexpr const char* kNoError = "(no qix::Error thrown)";

constexpr const char* kWorkedExample = "<flag_names>\nA\nB\n</flag_names>\n<components>\n<component>\nQ1\nQ1R\n\nS1\n"
                                       "G1\nQUAD\nT1\nQuad 1\n0.000000000000000e+00\n0.000000000000000e+00\n"
                                       "1.250000000000000e+01\n1.275000000000000e+01\n10\n\n</component>\n"
                                       "</components>\n";

ComponentList worked_example()
{
    ComponentList list;
    list.flag_names_ = {"A", "B"};
    list.components_ = {make_component({"Q1", "Q1R", "", "S1", "G1", "QUAD", "T1", "Quad 1"}, {0, 0, 12.5, 12.75},
                                       {true, false})};
    return list;
}

std::string read_error(ComponentList& list, const fs::path& path)
{
    return message_of([&] { list.read_from_file(path.string()); });
}

std::string write_error(const ComponentList& list, const fs::path& path)
{
    return message_of([&] { list.write_to_file(path.string()); });
}

// A record named Q1 without a link-name line.
std::string record(const std::string& flags, const std::string& x = "0", const std::string& close = "</component>")
{
    return "<component>\nQ1\n\n\n\n\n\n\n\n" + x + "\n0\n0\n0\n" + flags + "\n" + close + "\n";
}

TEST(ComponentListFile, WritesTheWorkedExampleAndTheEmptyList)
{
    qix::test::TempDir dir;
    const ComponentList example = worked_example();
    example.write_to_file((dir / "example.txt").string());
    EXPECT_EQ(slurp(dir / "example.txt"), kWorkedExample);
    ComponentList back;
    back.read_from_file((dir / "example.txt").string());
    EXPECT_EQ(back, example);

    ComponentList().write_to_file((dir / "empty.txt").string());
    EXPECT_EQ(slurp(dir / "empty.txt"), "<flag_names>\n</flag_names>\n<components>\n</components>\n");
    back.read_from_file((dir / "empty.txt").string());
    EXPECT_EQ(back, ComponentList());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
        << "no temporary file is left behind";
}

TEST(ComponentListFile, RoundTripsEveryStringAndFlagName)
{
    const std::vector<std::string> strings = {
        "", " lead", "trail ", "\tboth\t", "</component>", "  </component>  ", "<component>", "</components>",
        "back\\slash \\x41", "line\nfeed", "cr\r", std::string("nul\0byte", 8), "\xC3\xA9t\xC3\xA9", "<", " "};
    ComponentList list;
    list.flag_names_ = strings;
    list.flag_names_.push_back("</flag_names>");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        Component c;
        c.name_ = c.real_name_ = c.name2_ = c.section_ = strings[i];
        c.group_ = c.class_ = c.type_ = c.friendly_name_ = strings[strings.size() - 1 - i];
        c.link_name_ = strings[i];
        c.x_ = -0.0;
        c.y_ = std::numeric_limits<double>::infinity();
        c.z_ = 4.9e-324;
        c.s_ = -0.25 * static_cast<double>(i);
        c.flags_.assign(list.flag_names_.size(), false);
        c.flags_[i] = true;
        list.components_.push_back(c);
    }
    qix::test::TempDir dir;
    list.write_to_file((dir / "list.txt").string());
    ComponentList back;
    back.read_from_file((dir / "list.txt").string());
    EXPECT_EQ(back, list);
    EXPECT_TRUE(std::signbit(back.components_[0].x_));
}

TEST(ComponentListFile, ReportsEveryFormatErrorAndKeepsWhatWasRead)
{
    struct Case {
        std::string text;
        std::string message; // {F} stands for the file name
        std::size_t components;
        std::size_t flag_names;
    };
    const std::string head = "<flag_names>\nA\n</flag_names>\n";
    const std::vector<Case> cases = {
        {head + "  junk  \n", "Unexpected line in {F}: junk", 0, 1},
        {head + "<components>\n" + record("") + "</components>\n",
         "{F} is inconsistent: Component Q1 has 0 flags instead of 1 as prescribed by the header", 1, 1},
        {"<components>\n" + record("1") + "</components>\n" + head + "<flag_names>\nA\n",
         "Found no closing </flag_names> tag", 1, 0},
        {head + "<components>\n" + record("1"), "Found no closing </components> tag", 0, 1},
        {head + "<components>\n" + record("1") + record("1", "0", "link\n</componentX>") + "</components>\n",
         "Cannot parse component list", 1, 1},
        {head + "<components>\n" + record("1") + record("1x"),
         "Flag format error for component Q1: Expected '0' or '1', found 'x'", 1, 1},
        {head + "<components>\n" + record("1") + record("1", " 1,5\t"),
         "Cannot parse floating point number \"\\x201,5\\t\"", 1, 1},
        {head + "<components>\n" + record("1") + record("1", "+1"), "Cannot parse floating point number \"+1\"", 1,
         1},
    };
    qix::test::TempDir dir;
    const fs::path file = dir / "list.txt";
    for (const Case& c : cases) {
        spit(file, c.text);
        ComponentList list = worked_example();
        std::string expected = c.message;
        if (const auto f = expected.find("{F}"); f != std::string::npos)
            expected.replace(f, 3, file.string());
        EXPECT_EQ(read_error(list, file), expected) << c.text;
        EXPECT_EQ(list.components_.size(), c.components) << c.text;
        EXPECT_EQ(list.flag_names_.size(), c.flag_names) << c.text;
    }
    ComponentList list = worked_example();
    EXPECT_EQ(read_error(list, dir / "missing.txt"), "Unable to open " + (dir / "missing.txt").string() + " for reading");
    EXPECT_EQ(list, ComponentList());
    list = worked_example();
    EXPECT_EQ(read_error(list, dir.path()), "Unable to open " + dir.path().string() + " for reading");
    EXPECT_EQ(list, ComponentList());
}

TEST(ComponentListFile, ToleratesBlanksStrayLinesAndRepeatedSections)
{
    qix::test::TempDir dir;
    const fs::path file = dir / "list.txt";
    ComponentList list;

    // Blanks around tags and numbers, blank and stray lines between records, a record without
    // a link-name line, and a second components section that replaces the first.
    spit(file, "\n <flag_names> \nA\n</flag_names>\t\n\n<components>\n" + record("0") + "</components>\n" +
                   "<components>\nstray\n\n" + record("1", "\t-2.5e1 ") + "more stray\n</components>\n");
    ASSERT_EQ(read_error(list, file), kNoError);
    ASSERT_EQ(list.components_.size(), 1u);
    EXPECT_EQ(list.components_[0].x_, -25.0);
    EXPECT_EQ(list.components_[0].flags_, std::vector<bool>{true});
    EXPECT_EQ(list.components_[0].link_name_, "");

    // CR LF line ends: tag and number lines pass, string lines keep the CR, and the flags
    // line fails on it.
    spit(file, "<flag_names>\r\nA\r\n</flag_names>\r\n<components>\r\n</components>\r\n");
    ASSERT_EQ(read_error(list, file), kNoError);
    EXPECT_EQ(list.flag_names_, std::vector<std::string>{"A"});
    spit(file, "<components>\r\n<component>\r\nQ1\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n1\r\n2\r\n3\r\n4\r\n\r\n"
               "</component>\r\n</components>\r\n");
    EXPECT_EQ(read_error(list, file), "Flag format error for component Q1\r: Expected '0' or '1', found '\r'");
}

TEST(ComponentListFile, CutOffAtEveryLineOfARecord)
{
    qix::test::TempDir dir;
    ComponentList two = worked_example();
    two.components_.push_back(two.components_[0]);
    two.write_to_file((dir / "full.txt").string());
    std::vector<std::string> lines;
    std::istringstream in(slurp(dir / "full.txt"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 38u);

    // Lines 22 to 37 are the second record; keep the file up to each of them.
    for (std::size_t kept = 22; kept <= 37; ++kept) {
        std::string text;
        for (std::size_t i = 0; i < kept; ++i)
            text += lines[i] + "\n";
        spit(dir / "cut.txt", text);
        ComponentList list;
        const std::string expected = kept < 34    ? "Cannot parse floating point number \"\""
                                     : kept < 37 ? "Cannot parse component list"
                                                 : "Found no closing </components> tag";
        EXPECT_EQ(read_error(list, dir / "cut.txt"), expected) << kept;
        EXPECT_EQ(list.components_.size(), kept < 37 ? 1u : 0u) << kept;
    }
}

TEST(ComponentListFile, ReplacesTheFileBehindALinkAndKeepsItsPermissions)
{
    qix::test::TempDir dir;
    spit(dir / "real.txt", "old");
    fs::permissions(dir / "real.txt", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real.txt", dir / "link.txt");
    worked_example().write_to_file((dir / "link.txt").string());
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(slurp(dir / "real.txt"), kWorkedExample);
    EXPECT_EQ(fs::status(dir / "real.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ComponentListFile, RefusedAndFailedWritesLeaveTheOldFileIntact)
{
    qix::test::TempDir dir;
    const fs::path file = dir / "list.txt";
    spit(file, "old");
    ComponentList list = worked_example();
    const auto only_old_file_left = [&] {
        return slurp(file) == "old" && std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()) == 1;
    };
    list.components_[0].flags_.pop_back();
    EXPECT_EQ(write_error(list, file),
              file.string() + " is inconsistent: Component Q1 has 1 flags instead of 2 as prescribed by the header");
    EXPECT_TRUE(only_old_file_left());
    list = worked_example();

    const fs::path missing = dir / "no" / "list.txt";
    EXPECT_EQ(write_error(list, missing), "Unable to open " + missing.string() + " for writing");
    EXPECT_EQ(write_error(list, dir.path()), "Error while writing to " + dir.path().string());
    EXPECT_TRUE(only_old_file_left());

    // A full disk: the file size limit stops the write part-way.
    EXPECT_TRUE(in_child(false, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, RLIM_INFINITY};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
               write_error(list, file) == "Error while writing to " + file.string();
    }));
    EXPECT_TRUE(only_old_file_left());

    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_TRUE(in_child(true, [&] { return write_error(list, file) == "Unable to open " + file.string() + " for writing"; }));
    EXPECT_TRUE(only_old_file_left());
}

} // namespace
