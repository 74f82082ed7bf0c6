// The component list file: exact bytes, round trips, every format error with the state it
// leaves, and how a write treats each kind of file a path can name (writes that fail part-way
// are the reliability tests' part).

#include "load_scenarios.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;
using namespace qix::test::component;
using qix::sql::ComponentList;

constexpr const char* kWorkedExample = "<flag_names>\nA\nB\n</flag_names>\n<components>\n<component>\nQ1\nQ1R\n\nS1\n"
                                       "G1\nQUAD\nT1\nQuad 1\n0.000000000000000e+00\n0.000000000000000e+00\n"
                                       "1.250000000000000e+01\n1.275000000000000e+01\n10\n\n</component>\n"
                                       "</components>\n";
constexpr const char* kNoError = "(no qix::Error thrown)";

ComponentList worked_example()
{
    ComponentList list;
    list.flag_names_ = {"A", "B"};
    list.components_ = {
        make_component({"Q1", "Q1R", "", "S1", "G1", "QUAD", "T1", "Quad 1"}, {0, 0, 12.5, 12.75}, {true, false})};
    return list;
}

std::string read_error(ComponentList& list, const std::string& path)
{
    return message_of([&] { list.read_from_file(path); });
}

std::string write_error(const ComponentList& list, const std::string& path)
{
    return message_of([&] { list.write_to_file(path); });
}

std::ptrdiff_t entries() { return std::distance(fs::directory_iterator("."), fs::directory_iterator()); }

// What `path` names, a link itself rather than its target.
struct stat stat_of(const std::string& path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// A record named Q1 without a link-name line.
std::string record(const std::string& flags, const std::string& x = "0", const std::string& close = "</component>")
{
    return "<component>\nQ1\n\n\n\n\n\n\n\n" + x + "\n0\n0\n0\n" + flags + "\n" + close + "\n";
}

// Each test works in a fresh folder of its own, its working directory, so that the paths and
// the messages that name them are short.
class ComponentListFile : public ::testing::Test {
    qix::test::TempDir dir_;
    WorkingDirectory cwd_{dir_.path()};
};

// Texts of every kind and the extreme numbers go through a write and a read unchanged: the
// list_file fuzz target checks that on its seeds (hostile_texts among them).
TEST_F(ComponentListFile, WritesExactBytesAndReadsThemBack)
{
    for (const auto& [written, text] :
         {std::pair{worked_example(), kWorkedExample},
          {ComponentList(), "<flag_names>\n</flag_names>\n<components>\n</components>\n"}}) {
        written.write_to_file("list.txt");
        EXPECT_EQ(slurp("list.txt"), text);
        ComponentList back;
        back.read_from_file("list.txt");
        EXPECT_EQ(back, written);
    }
    EXPECT_EQ(entries(), 1) << "no temporary file is left behind";
}

TEST_F(ComponentListFile, ReportsEveryFormatErrorAndKeepsWhatWasRead)
{
    const std::string long_line(1000, 'j');
    const std::string head = "<flag_names>\nA\n</flag_names>\n", open = head + "<components>\n" + record("1");
    // Lines up to 1000 bytes are quoted whole, longer ones by their first 200 bytes (a UTF-8
    // sequence is not cut), "…" and their length.
    std::vector<std::tuple<std::string, std::string, std::size_t, std::size_t>> cases = {
        {head + "  junk  \n", "Unexpected line in list.txt: junk", 0, 1},
        {head + "<components>\n" + record("") + "</components>\n",
         "list.txt is inconsistent: Component Q1 has 0 flags instead of 1 as prescribed by the header", 1, 1},
        {"<components>\n" + record("1") + "</components>\n" + head + "<flag_names>\nA\n",
         "Found no closing </flag_names> tag", 1, 0},
        {open, "Found no closing </components> tag", 0, 1},
        {open + record("1", "0", "link\n</componentX>") + "</components>\n", "Cannot parse component list", 1, 1},
        {open + record("1x"), "Flag format error for component Q1: Expected '0' or '1', found 'x'", 1, 1},
        {open + record("1", " 1,5\t"), "Cannot parse floating point number \"\\x201,5\\t\"", 1, 1},
        {open + record("1", "+1"), "Cannot parse floating point number \"+1\"", 1, 1},
        {head + long_line + "\n", "Unexpected line in list.txt: " + long_line, 0, 1},
        {head + " " + long_line + "j\n", "Unexpected line in list.txt: " + long_line.substr(0, 200) + "…(1001 bytes)",
         0, 1},
        {head + long_line.substr(0, 199) + "\xC3\xA9" + long_line + "\n",
         "Unexpected line in list.txt: " + long_line.substr(0, 199) + "…(1201 bytes)", 0, 1},
        {open + record("1", "\t" + std::string(999, '9') + "x"),
         "Cannot parse floating point number \"\\t" + std::string(199, '9') + "…(1001 bytes)\"", 1, 1},
        // Text lines keep the CR of a CR LF line end, and the flags line fails on it.
        {"<components>\r\n<component>\r\nQ1\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n1\r\n2\r\n3\r\n4\r\n\r\n</component>\r\n",
         "Flag format error for component Q1\r: Expected '0' or '1', found '\r'", 0, 0}};
    // A file cut off after each line of a second record: lines 22 to 37 of 38.
    ComponentList two = worked_example();
    two.components_.push_back(two.components_[0]);
    two.write_to_file("two.txt");
    const std::string full = slurp("two.txt");
    for (std::size_t kept = 1, end = 0; kept <= 37; ++kept) {
        end = full.find('\n', end) + 1;
        if (kept >= 22)
            cases.emplace_back(full.substr(0, end),
                               kept < 34   ? "Cannot parse floating point number \"\""
                               : kept < 37 ? "Cannot parse component list"
                                           : "Found no closing </components> tag",
                               kept < 37 ? 1 : 0, 2);
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [text, message, components, flag_names] = cases[i];
        SCOPED_TRACE(::testing::Message() << "case " << i << ": " << text.substr(0, 200));
        spit("list.txt", text);
        ComponentList list = worked_example();
        EXPECT_EQ(read_error(list, "list.txt"), message);
        EXPECT_EQ(list.components_.size(), components);
        EXPECT_EQ(list.flag_names_.size(), flag_names);
    }
    for (const std::string unreadable : {"missing.txt", "."}) {
        ComponentList list = worked_example();
        EXPECT_EQ(read_error(list, unreadable), "Unable to open " + unreadable + " for reading");
        EXPECT_EQ(list, ComponentList());
    }
}

TEST_F(ComponentListFile, ToleratesBlanksStrayLinesAndRepeatedSections)
{
    // Blanks around tags and numbers (CR of CR LF line ends among them), blank lines among the
    // flag names (hand-edited files have them), blank and stray lines between records, a record
    // without a link-name line, and a second components section that replaces the first.
    spit("list.txt", "\n <flag_names> \n\nA\r\n \t\n</flag_names>\t\n\n<components>\n" + record("0") +
                         "</components>\n<components>\r\nstray\n\n" + record("1", "\t-2.5e1 \r") +
                         "more stray\n</components>\r\n");
    ComponentList list, expected;
    EXPECT_EQ(read_error(list, "list.txt"), kNoError);
    expected.flag_names_ = {"A"};
    expected.components_ = {make_component({"Q1"}, {-25.0}, {true})};
    EXPECT_EQ(list, expected);
}

// A list whose file could not be read back is refused before the file is touched.
TEST_F(ComponentListFile, RefusesAListItCouldNotReadBack)
{
    spit("list.txt", "old");
    ComponentList inconsistent = worked_example(), empty_flag_name = worked_example();
    inconsistent.components_[0].flags_.pop_back();
    empty_flag_name.flag_names_[1] = "";
    EXPECT_EQ(write_error(inconsistent, "list.txt"),
              "list.txt is inconsistent: Component Q1 has 1 flags instead of 2 as prescribed by the header");
    EXPECT_EQ(write_error(empty_flag_name, "list.txt"),
              "Unable to write list.txt: flag name 2 is empty, and a list file cannot hold an empty flag name");
    EXPECT_EQ(slurp("list.txt"), "old");
}

// Every kind of file a path can name: regular files and missing ones are replaced whole,
// links are followed, and devices, FIFOs and sockets are written to as a plain stream would.
TEST_F(ComponentListFile, WritesEveryKindOfPath)
{
    ASSERT_EQ(::geteuid(), 0u) << "device nodes need root, as CI has";
    for (const auto& [name, kind, device] : {std::tuple{"null", S_IFCHR, ::makedev(1, 3)},
                                             {"full", S_IFCHR, ::makedev(1, 7)},
                                             {"socket", S_IFSOCK, 0},
                                             {"fifo", S_IFIFO, 0}})
        ASSERT_EQ(::mknod(name, kind | 0666, device), 0) << name;
    spit("real.txt", "old");
    fs::permissions("real.txt", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directory("sub");
    fs::create_symlink("real.txt", "link.txt");
    fs::create_symlink("null", "to_null");
    fs::create_symlink(fs::absolute("sub/created.txt"), "dangling");
    fs::create_symlink("../dangling", "sub/to_dangling");
    fs::create_symlink("loop_b", "loop_a");
    fs::create_symlink("loop_a", "loop_b");
    // The FIFO's read end is open before the write, so the writer's open does not wait, and
    // the text (far below a pipe's capacity) waits in the pipe.
    const int reader = ::open("fifo", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The longest name: the temporary file beside it needs a name of its own within the limit.
    const std::string longest(255, 'n');
    for (const auto& [path, message] :
         std::vector<std::pair<std::string, std::string>>{{"null", kNoError},
                                                          {"full", "Error while writing to full"},
                                                          {"socket", "Unable to open socket for writing"},
                                                          {"fifo", kNoError},
                                                          {"link.txt", kNoError},
                                                          {"to_null", kNoError},
                                                          {"sub/to_dangling", kNoError},
                                                          {"loop_a", "Unable to open loop_a for writing"},
                                                          {"no/list.txt", "Unable to open no/list.txt for writing"},
                                                          {"sub", "Unable to open sub for writing"},
                                                          {longest, kNoError}})
        EXPECT_EQ(write_error(worked_example(), path), message) << path;
    std::string received(4096, '\0');
    received.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(reader, received.data(), received.size()))));
    ::close(reader);
    for (const std::string written : {"real.txt", "sub/created.txt", longest.c_str()})
        EXPECT_EQ(slurp(written), kWorkedExample) << written;
    EXPECT_EQ(received, kWorkedExample);
    const std::pair<const char*, mode_t> kinds[] = {{"null", S_IFCHR},     {"full", S_IFCHR},     {"socket", S_IFSOCK},
                                                    {"fifo", S_IFIFO},     {"link.txt", S_IFLNK}, {"to_null", S_IFLNK},
                                                    {"dangling", S_IFLNK}, {"loop_a", S_IFLNK}};
    for (const auto& [path, kind] : kinds)
        EXPECT_EQ(stat_of(path).st_mode & S_IFMT, kind) << path;
    EXPECT_EQ(stat_of("real.txt").st_mode, S_IFREG | 0600u) << "the permissions stay";
    EXPECT_EQ(entries(), 12) << "no temporary file is left behind";
}

TEST_F(ComponentListFile, RewritesInPlaceInAFolderClosedToNewFiles)
{
    // A writable file in such a folder is rewritten in place, a read-only one stays as it was.
    // Run as an unprivileged user, as root may write anyway.
    spit("writable.txt", "old");
    spit("read_only.txt", "old");
    fs::permissions("writable.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_write);
    fs::permissions("read_only.txt", fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(".", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const ino_t before = stat_of("writable.txt").st_ino;
    ComponentList list = worked_example();
    list.components_[0].name_ = "IN PLACE";
    EXPECT_TRUE(in_child(true, [&] {
        return write_error(list, "writable.txt") == kNoError &&
               write_error(list, "read_only.txt") == "Unable to open read_only.txt for writing";
    }));
    ComponentList back;
    back.read_from_file("writable.txt");
    EXPECT_EQ(back, list);
    EXPECT_EQ(stat_of("writable.txt").st_ino, before) << "the same file, rewritten";
    EXPECT_EQ(slurp("read_only.txt"), "old");
    EXPECT_EQ(entries(), 2);
}

} // namespace
