// The component list file: exact bytes, round trips, every format error with the state it
// leaves, and writes refused without harming the previous file (writes that fail part-way are
// the reliability tests' part).

#include "load_scenarios.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cmath>
#include <cstring>
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
    list.flag_names_[0] = "</flag_names>"; // an empty flag name is refused
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
    const std::string long_line(1000, 'j');
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
        // Lines up to 1000 bytes are quoted whole, longer ones by their first 200 bytes (a
        // UTF-8 sequence is not cut), "…" and their length.
        {head + long_line + "\n", "Unexpected line in {F}: " + long_line, 0, 1},
        {head + " " + long_line + "j\n", "Unexpected line in {F}: " + long_line.substr(0, 200) + "\u2026(1001 bytes)",
         0, 1},
        {head + long_line.substr(0, 199) + "\xC3\xA9" + long_line + "\n",
         "Unexpected line in {F}: " + long_line.substr(0, 199) + "\u2026(1201 bytes)", 0, 1},
        {open + record("1", "\t" + std::string(999, '9') + "x"),
         "Cannot parse floating point number \"\\t" + std::string(199, '9') + "\u2026(1001 bytes)\"", 1, 1},
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
    // Blanks around tags and numbers, blank lines among the flag names (hand-edited files have
    // them), blank and stray lines between records, a record without
    // a link-name line, and a second components section that replaces the first.
    spit(file, "\n <flag_names> \n\nA\n \t\n</flag_names>\t\n\n<components>\n" + record("0") + "</components>\n" +
                   "<components>\nstray\n\n" + record("1", "\t-2.5e1 ") + "more stray\n</components>\n");
    ASSERT_NO_THROW(list.read_from_file(file.string()));
    EXPECT_EQ(list.flag_names_, std::vector<std::string>{"A"});
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
    EXPECT_EQ(write_error(dir.path()), "Unable to open " + dir.path().string() + " for writing");
    list.flag_names_[1] = "";
    EXPECT_EQ(write_error(file), "Unable to write " + file.string() +
                                     ": flag name 2 is empty, and a list file cannot hold an empty flag name");
    list = worked_example();
    EXPECT_EQ(slurp(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    // A write through a link replaces the file behind it and keeps its permissions.
    EXPECT_NO_THROW(list.write_to_file((dir / "link.txt").string()));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(slurp(file), kWorkedExample);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// Every kind of file a path can name: regular files and missing ones are replaced whole,
// links are followed, and devices, FIFOs and sockets are written to as a plain stream would.
TEST(ComponentListFile, WritesThroughLinksAndIntoDevicesAndFifosWithoutReplacingThem)
{
    ASSERT_EQ(::geteuid(), 0u) << "device nodes need root, as CI has";
    qix::test::TempDir dir;
    const ComponentList list = worked_example();
    const auto write_error = [&list](const fs::path& path) {
        return message_of([&] { list.write_to_file(path.string()); });
    };
    const fs::path null = dir / "null", full = dir / "full", fifo = dir / "fifo", socket = dir / "socket";
    ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket.string().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socket.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    EXPECT_EQ(write_error(null), "(no qix::Error thrown)");
    EXPECT_EQ(write_error(full), "Error while writing to " + full.string());
    EXPECT_EQ(write_error(socket), "Unable to open " + socket.string() + " for writing");
    // The read end is open before the write, so the writer's open does not wait, and the text
    // (far below a pipe's capacity) waits in the pipe. A FIFO replaced by a file gives nothing.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(write_error(fifo), "(no qix::Error thrown)");
    std::string received;
    char buffer[4096];
    for (ssize_t got; (got = ::read(reader, buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<std::size_t>(got));
    EXPECT_EQ(received, kWorkedExample);
    ::close(reader);
    ::close(listener);
    EXPECT_EQ(fs::status(null).type(), fs::file_type::character);
    EXPECT_EQ(fs::status(full).type(), fs::file_type::character);
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    EXPECT_EQ(fs::status(socket).type(), fs::file_type::socket);

    // Links, relative and absolute, to a device, to a missing file (created, as a plain write
    // would) through a second link, and in a loop.
    fs::create_symlink("null", dir / "to_null");
    fs::create_symlink(dir / "sub" / "created.txt", dir / "dangling");
    fs::create_directory(dir / "sub");
    fs::create_symlink("../dangling", dir / "sub" / "to_dangling");
    fs::create_symlink("loop_b", dir / "loop_a");
    fs::create_symlink("loop_a", dir / "loop_b");
    EXPECT_EQ(write_error(dir / "to_null"), "(no qix::Error thrown)");
    EXPECT_EQ(fs::status(null).type(), fs::file_type::character);
    EXPECT_EQ(write_error(dir / "sub" / "to_dangling"), "(no qix::Error thrown)");
    EXPECT_EQ(slurp(dir / "sub" / "created.txt"), kWorkedExample);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(write_error(dir / "loop_a"), "Unable to open " + (dir / "loop_a").string() + " for writing");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 9)
        << "no temporary file is left behind";
}

TEST(ComponentListFile, LongNamesAndFoldersClosedToNewFiles)
{
    qix::test::TempDir dir;
    ComponentList list = worked_example();
    // Names up to the 255-byte limit: the temporary file beside them needs a name of its own.
    for (const std::size_t length : {245u, 250u, 255u}) {
        const fs::path file = dir / std::string(length, 'n');
        EXPECT_EQ(message_of([&] { list.write_to_file(file.string()); }), "(no qix::Error thrown)") << length;
        EXPECT_EQ(slurp(file), kWorkedExample) << length;
        fs::remove(file);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));

    // A folder the writer may not add files to: a writable file in it is rewritten in place,
    // a read-only one stays as it was. Run as an unprivileged user, as root may write anyway.
    const fs::path writable = dir / "writable.txt", read_only = dir / "read_only.txt";
    spit(writable, "old");
    spit(read_only, "old");
    fs::permissions(writable, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
    fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const auto inode = [](const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t before = inode(writable);
    list.components_[0].name_ = "IN PLACE";
    const std::string expected_read_only = "Unable to open " + read_only.string() + " for writing";
    EXPECT_TRUE(in_child(true, [&] {
        list.write_to_file(writable.string());
        return message_of([&] { list.write_to_file(read_only.string()); }) == expected_read_only;
    }));
    ComponentList back;
    back.read_from_file(writable.string());
    EXPECT_EQ(back, list);
    EXPECT_EQ(inode(writable), before) << "the same file, rewritten";
    EXPECT_EQ(slurp(read_only), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

} // namespace
