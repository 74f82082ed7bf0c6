#include "targets.h"

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>
#include <qix/util/exceptions.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qix::fuzz {

namespace {

// One file per process, in memory where the system offers it: every input is written, read
// and removed again within its own run, so nothing stays behind.
std::string scratch_file()
{
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path dir = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
    return (dir / ("qix_fuzz_list_" + std::to_string(::getpid()) + ".txt")).string();
}

void put(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    require(static_cast<bool>(out.flush()), "the scratch file can be written");
}

std::string get(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every text field and the flags of each component.
bool same_except_positions(const sql::ComponentList& a, const sql::ComponentList& b)
{
    namespace fields = sql::component_fields;
    if (a.flag_names_ != b.flag_names_ || a.components_.size() != b.components_.size())
        return false;
    for (std::size_t i = 0; i < a.components_.size(); ++i) {
        const sql::Component& x = a.components_[i];
        const sql::Component& y = b.components_[i];
        const auto same_text = [&](const sql::ComponentTextField& field) { return x.*field.member == y.*field.member; };
        if (!std::all_of(fields::kLeadingTexts.begin(), fields::kLeadingTexts.end(), same_text) ||
            !same_text(fields::kLinkName) || x.flags_ != y.flags_)
            return false;
    }
    return true;
}

} // namespace

void list_file(std::string_view input)
{
    static const std::string path = scratch_file();
    put(path, input);
    sql::ComponentList first;
    try {
        first.read_from_file(path);
    } catch (const Error&) {
        std::remove(path.c_str());
        return; // a malformed file is reported, which is all that is asked of it
    }
    // Whatever loads must survive a write and a read unchanged. Positions are written with
    // 16 significant digits, so only the text is compared after the first round.
    first.write_to_file(path);
    const std::string first_text = get(path);
    sql::ComponentList second;
    second.read_from_file(path);
    require(same_except_positions(first, second), "a written list reads back with the same names and flags");
    second.write_to_file(path);
    require(get(path) == first_text, "a list read from its own file writes the same text again");
    std::remove(path.c_str());
}

} // namespace qix::fuzz
