// The component list file: exact bytes, round trips, every format error with the state it
// leaves, and writes refused without harming the previous file (writes that fail part-way are
// the reliability tests' part).

#include "load_scenarios.h"

#include <cmath>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;

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

// A record named Q1 without a link-name line.
std::string record(const std::string& flags, const std::string& x = "0", const std::string& close = "</component>")
{
    return "<component>\nQ1\n\n\n\n\n\n\n\n" + x + "\n0\n0\n0\n" + flags + "\n" + close + "\n";
}

TEST(ComponentListFile, WritesExactBytesAndRoundTripsEveryStringAndNumber)
{
    const std::vector<std::string> strings = {
        "", " lead", "trail ", "\tboth\t", "</component>", "  </component>  ", "<component>", "</components>",
        "back\\slash \\x41", "line\nfeed", "cr\r", std::string("nul\0byte", 8), "\xC3\xA9t\xC3\xA9", "<", " "};
    ComponentList list;
    list.flag_names_ = strings;
    list.flag_names_.push_back("</flag_names>");
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::string &a = strings[i], &b = strings[strings.size() - 1 - i];
        std::vector<bool> flags(list.flag_names_.size());
        flags[i] = true;
        list.components_.push_back(make_component(
            {a, a, a, a, b, b, b, b, a}, {-0.0, INFINITY, 4.9e-324, -0.25 * static_cast<double>(i)}, flags));
    }
    qix::test::TempDir dir;
    for (const auto& [written, text] : {std::pair{worked_example(), std::string(kWorkedExample)},
                                        {ComponentList(), "<flag_names>\n</flag_names>\n<components>\n</components>\n"},
                                        {list, ""}}) {
        written.write_to_file((dir / "list.txt").string());
        if (!text.empty()) {
            EXPECT_EQ(slurp(dir / "list.txt"), text);
        }
        ComponentList back;
        back.read_from_file((dir / "list.txt").string());
        EXPECT_EQ(back, written);
        EXPECT_TRUE(back.components_.empty() || std::signbit(back.components_[0].x_) == (text.empty()));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST(ComponentListFile, ReportsEveryFormatErrorAndKeepsWhatWasRead)
{
    const std::string head = "<flag_names>\nA\n</flag_names>\n", open = head + "<components>\n" + record("1");
    const std::tuple<std::string, std::string, std::size_t, std::size_t> cases[] = { // {F}: the file name
        {head + "  junk  \n", "Unexpected line in {F}: junk", 0, 1},
        {head + "<components>\n" + record("") + "</components>\n",
         "{F} is inconsistent: Component Q1 has 0 flags instead of 1 as prescribed by the header", 1, 1},
        {"<components>\n" + record("1") + "</components>\n" + head + "<flag_names>\nA\n",
         "Found no closing </flag_names> tag", 1, 0},
        {open, "Found no closing </components> tag", 0, 1},
        {open + record("1", "0", "link\n</componentX>") + "</components>\n", "Cannot parse component list", 1, 1},
        {open + record("1x"), "Flag format error for component Q1: Expected '0' or '1', found 'x'", 1, 1},
        {open + record("1", " 1,5\t"), "Cannot parse floating point number \"\\x201,5\\t\"", 1, 1},
        {open + record("1", "+1"), "Cannot parse floating point number \"+1\"", 1, 1},
    };
    qix::test::TempDir dir;
    const fs::path file = dir / "list.txt";
    for (const auto& [text, message, components, flag_names] : cases) {
        spit(file, text);
        ComponentList list = worked_example();
        const std::string expected = std::regex_replace(message, std::regex("\\{F\\}"), file.string());
        EXPECT_EQ(read_error(list, file), expected) << text;
        EXPECT_EQ(list.components_.size(), components) << text;
        EXPECT_EQ(list.flag_names_.size(), flag_names) << text;
    }
    for (const fs::path& unreadable : {dir / "missing.txt", dir.path()}) {
        ComponentList list = worked_example();
        EXPECT_EQ(read_error(list, unreadable), "Unable to open " + unreadable.string() + " for reading");
        EXPECT_EQ(list, ComponentList());
    }
}

TEST(ComponentListFile, ToleratesBlanksStrayLinesAndRepeatedSectionsButNoCutOff)
{
    qix::test::TempDir dir;
    const fs::path file = dir / "list.txt";
    ComponentList list;
    // Blanks around tags and numbers, blank and stray lines between records, a record without
    // a link-name line, and a second components section that replaces the first.
    spit(file, "\n <flag_names> \nA\n</flag_names>\t\n\n<components>\n" + record("0") + "</components>\n" +
                   "<components>\nstray\n\n" + record("1", "\t-2.5e1 ") + "more stray\n</components>\n");
    ASSERT_NO_THROW(list.read_from_file(file.string()));
    ASSERT_EQ(list.components_.size(), 1u);
    EXPECT_EQ(list.components_[0].x_, -25.0);
    EXPECT_EQ(list.components_[0].flags_, std::vector<bool>{true});
    EXPECT_EQ(list.components_[0].link_name_, "");

    // CR LF line ends: tag and number lines pass, string lines keep the CR, and the flags
    // line fails on it.
    spit(file, "<flag_names>\r\nA\r\n</flag_names>\r\n<components>\r\n</components>\r\n");
    ASSERT_NO_THROW(list.read_from_file(file.string()));
    EXPECT_EQ(list.flag_names_, std::vector<std::string>{"A"});
    spit(file, "<components>\r\n<component>\r\nQ1\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n1\r\n2\r\n3\r\n4\r\n\r\n"
               "</component>\r\n</components>\r\n");
    EXPECT_EQ(read_error(list, file), "Flag format error for component Q1\r: Expected '0' or '1', found '\r'");

    // Cut off at every line of a second record.
    ComponentList two = worked_example();
    two.components_.push_back(two.components_[0]);
    two.write_to_file((dir / "full.txt").string());
    std::istringstream in(slurp(dir / "full.txt"));
    std::string text;
    // Lines 22 to 37 of 38 are the second record; keep the file up to each of them.
    for (std::size_t kept = 1; kept <= 37; ++kept) {
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        text += line + "\n";
        if (kept < 22)
            continue;
        spit(dir / "cut.txt", text);
        ComponentList cut;
        const std::string expected = kept < 34   ? "Cannot parse floating point number \"\""
                                     : kept < 37 ? "Cannot parse component list"
                                                 : "Found no closing </components> tag";
        EXPECT_EQ(read_error(cut, dir / "cut.txt"), expected) << kept;
        EXPECT_EQ(cut.components_.size(), kept < 37 ? 1u : 0u) << kept;
    }
}

TEST(ComponentListFile, RefusedWritesLeaveTheOldFileAndLinksAndPermissionsStay)
{
    qix::test::TempDir dir;
    const fs::path file = dir / "real.txt", missing = dir / "no" / "list.txt";
    spit(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real.txt", dir / "link.txt");
    ComponentList list = worked_example();
    list.components_[0].flags_.pop_back();
    const auto write_error = [&list](const fs::path& path) {
        return message_of([&] { list.write_to_file(path.string()); });
    };
    EXPECT_EQ(write_error(dir / "link.txt"), (dir / "link.txt").string() +
                                                 " is inconsistent: Component Q1 has 1 flags instead of 2 as "
                                                 "prescribed by the header");
    list = worked_example();
    EXPECT_EQ(write_error(missing), "Unable to open " + missing.string() + " for writing");
    EXPECT_EQ(write_error(dir.path()), "Error while writing to " + dir.path().string());
    EXPECT_EQ(slurp(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    // A write through a link replaces the file behind it and keeps its permissions.
    EXPECT_NO_THROW(list.write_to_file((dir / "link.txt").string()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(slurp(file), kWorkedExample);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

} // namespace
