#include <qix/sql/Cache.h>
#include <qix/util/exceptions.h>
#include <qix/util/file_system.h>
#include <qix/util/sha3.h>
#include <qix/util/string_util.h>
#include <qix/util/tessel.h>

#include <cstring>
#include <exception>

namespace qix::sql {

const char Cache::magic_header[17] = "qix_sql_cache_00";

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr unsigned int kFolderMode = 0755;

// Opens a file stream in binary mode; `direction` is "input" or "output" for the messages.
template <typename Stream>
Stream open_stream(const std::string& file_name, std::ios::openmode mode, std::string_view direction)
{
    Stream stream;
    try {
        stream.open(file_name, mode | std::ios::binary);
    } catch (const std::exception& e) {
        throw Error(tessel::cat("Cannot open ", direction, " file \"", file_name, "\": ", e.what()));
    }
    if (!stream.is_open())
        throw Error(tessel::cat("Cannot open ", direction, " file \"", file_name, "\""));
    return stream;
}

} // namespace

std::string Cache::get_folder() const { return folder_; }

std::string Cache::get_full_file_name(const std::string& sql_query) const
{
    const auto digest = qix::sha3_224(
        std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(sql_query.data()), sql_query.size()));
    return tessel::cat(folder_, "/", qix::to_hex(digest.begin(), digest.end()), ".dat");
}

void Cache::set_folder(const std::string& folder)
{
    if (folder.empty())
        throw Error(tessel::cat("Invalid cache folder: \"", folder, "\""));
    folder_ = folder;
}

void Cache::create_folder() const
{
    if (!qix::make_directory(folder_, kFolderMode))
        throw Error(tessel::cat("Unable to create cache folder \"", folder_, "\""));
}

std::ifstream Cache::open_file_input_stream(const std::string& file_name) const
{
    return open_stream<std::ifstream>(file_name, std::ios::in, "input");
}

std::ofstream Cache::open_file_output_stream(const std::string& file_name) const
{
    return open_stream<std::ofstream>(file_name, std::ios::out, "output");
}

void Cache::read_and_check_magic_header(std::istream& stream)
{
    char header[kHeaderSize];
    stream.read(header, kHeaderSize);
    if (stream.fail() || stream.bad())
        throw Error("Cannot read header");
    if (std::memcmp(header, magic_header, kHeaderSize) != 0)
        throw Error(tessel::cat("Invalid header \"", std::string_view(header, kHeaderSize), "\", expected \"",
                                std::string_view(magic_header, kHeaderSize), "\""));
}

} // namespace qix::sql
