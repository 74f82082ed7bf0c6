// Workload 3: writing and reading the list file of a 100,000-component list, against bare
// baselines that produce and parse the same bytes. Writing: one buffer filled with
// std::to_chars and written once (with and without the fsync the library does for the
// backup's sake). Reading: getline and std::from_chars over the same file.

#include "bench.h"
#include "component_data.h"
#include "table.h"

#include "DataSource.h"

#include <qix/sql/ComponentFields.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

namespace qix::bench {

namespace {

using qix::sql::Component;
using qix::sql::ComponentList;

constexpr std::string_view kTagLines[] = {"<component>\n", "</component>\n"};

namespace fields = qix::sql::component_fields;

struct FileFixture {
    qix::test::TempDir dir;
    ComponentList list;
    std::string library_file = (dir / "library.txt").string();
    std::string bare_file = (dir / "bare.txt").string();
    double bytes = 0;
};

// The file's bytes for the generated lists, whose texts need no escaping.
std::string bare_text(const ComponentList& list)
{
    std::string text;
    text.reserve(64 + list.components_.size() * (256 + list.flag_names_.size()));
    text.append("<flag_names>\n");
    for (const std::string& name : list.flag_names_)
        text.append(name).push_back('\n');
    text.append("</flag_names>\n<components>\n");
    char number[32];
    for (const Component& c : list.components_) {
        text.append(kTagLines[0]);
        for (const auto& field : fields::kLeadingTexts)
            text.append(c.*field.member).push_back('\n');
        for (const auto& field : fields::kPositions)
            text.append(number, std::to_chars(number, number + sizeof number, c.*field.member,
                                              std::chars_format::scientific, 15)
                                    .ptr)
                .push_back('\n');
        for (const bool flag : c.flags_)
            text.push_back(flag ? '1' : '0');
        text.push_back('\n');
        text.append(c.*fields::kLinkName.member).push_back('\n');
        text.append(kTagLines[1]);
    }
    text.append("</components>\n");
    return text;
}

void bare_write(const ComponentList& list, const std::string& path, bool sync)
{
    const std::string text = bare_text(list);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && (!sync || ::fsync(fd) == 0);
    if (::close(fd) != 0 || !written)
        throw std::runtime_error("cannot write " + path);
}

double read_number(const std::string& line)
{
    double value = 0.0;
    std::from_chars(line.data(), line.data() + line.size(), value);
    return value;
}

ComponentList bare_read(const std::string& path)
{
    ComponentList list;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line); // <flag_names>
    while (std::getline(in, line) && line != "</flag_names>")
        list.flag_names_.push_back(line);
    std::getline(in, line); // <components>
    while (std::getline(in, line) && line != "</components>") {
        Component& c = list.components_.emplace_back();
        for (const auto& field : fields::kLeadingTexts)
            std::getline(in, c.*field.member);
        for (const auto& field : fields::kPositions) {
            std::getline(in, line);
            c.*field.member = read_number(line);
        }
        std::getline(in, line);
        c.flags_.reserve(line.size());
        for (const char flag : line)
            c.flags_.push_back(flag == '1');
        std::getline(in, c.*fields::kLinkName.member);
        std::getline(in, line); // </component>
    }
    return list;
}

std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FileFixture& fixture_for(std::size_t n)
{
    static std::unique_ptr<FileFixture> fixture;
    if (!fixture) {
        auto made = std::make_unique<FileFixture>();
        made->list = make_component_list(n);
        made->list.write_to_file(made->library_file);
        bare_write(made->list, made->bare_file, false);
        const std::string bytes = file_bytes(made->library_file);
        if (bytes != file_bytes(made->bare_file))
            throw std::runtime_error("the bare writer and the library write different files");
        ComponentList library;
        library.read_from_file(made->library_file);
        if (library != bare_read(made->bare_file) || library.components_.size() != n)
            throw std::runtime_error("the bare reader and the library read different lists");
        made->bytes = static_cast<double>(bytes.size());
        fixture = std::move(made);
        on_release([] { fixture.reset(); });
    }
    // Building and checking the fixture frees many small blocks; merging them here, before every
    // workload, keeps that work out of whichever workload happens to allocate a large block first.
    ::malloc_trim(0);
    return *fixture;
}

void add_file_benchmark(const std::string& name, std::size_t n, void (*body)(FileFixture&))
{
    add_benchmark(name, [=](benchmark::State& state) {
        FileFixture* fixture = nullptr;
        run_timed(
            state, 0.0, [&] { fixture = &fixture_for(n); }, [&] { body(*fixture); });
        if (fixture != nullptr)
            state.counters[kItems] = fixture->bytes;
    });
}

} // namespace

void register_file_benchmarks(const Sizes& sizes)
{
    const std::size_t n = sizes.file_components;
    add_file_benchmark("file/write/library", n, [](FileFixture& f) { f.list.write_to_file(f.library_file); });
    add_file_benchmark("file/write/bare", n, [](FileFixture& f) { bare_write(f.list, f.bare_file, false); });
    add_file_benchmark("file/write/bare_fsync", n, [](FileFixture& f) { bare_write(f.list, f.bare_file, true); });
    add_file_benchmark("file/read/library", n, [](FileFixture& f) {
        ComponentList list;
        list.read_from_file(f.library_file);
        benchmark::DoNotOptimize(list.components_.data());
    });
    add_file_benchmark("file/read/bare", n,
                       [](FileFixture& f) { benchmark::DoNotOptimize(bare_read(f.bare_file).components_.data()); });
    const std::string workload = "3 list file " + count_text(n) + " components";
    // The library fsyncs the file it writes, for the backup's sake: its target is the bare writer
    // that does the same.
    add_row({workload + ", write: library (fsync) vs one to_chars buffer written once",
             "file/write/library",
             "file/write/bare",
             Unit::megabytes_per_second,
             Check::none,
             0.0,
             {}});
    add_row({workload + ", write: library (fsync) vs the same buffer written and fsynced",
             "file/write/library",
             "file/write/bare_fsync",
             Unit::megabytes_per_second,
             Check::at_least,
             0.85,
             {}});
    add_row({workload + ", write: what the fsync costs, bare buffer written and fsynced vs written only",
             "file/write/bare_fsync",
             "file/write/bare",
             Unit::megabytes_per_second,
             Check::none,
             0.0,
             {}});
    add_row({workload + ", read: library vs getline + from_chars",
             "file/read/library",
             "file/read/bare",
             Unit::megabytes_per_second,
             Check::at_least,
             0.85,
             {}});
}

} // namespace qix::bench
