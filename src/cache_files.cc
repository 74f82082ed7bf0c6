#include "cache_files.h"

#include <qix/util/exceptions.h>
#include <qix/util/file_system.h>
#include <qix/util/tessel.h>

#include <exception>

namespace qix::sql::cache_files {

namespace {

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

void create_folder(const std::string& folder)
{
    if (!qix::make_directory(folder, kFolderMode))
        throw Error(tessel::cat("Unable to create cache folder \"", folder, "\""));
}

std::ifstream open_input(const std::string& file_name)
{
    return open_stream<std::ifstream>(file_name, std::ios::in, "input");
}

std::ofstream open_output(const std::string& file_name)
{
    return open_stream<std::ofstream>(file_name, std::ios::out, "output");
}

void read_and_check_magic_header(std::istream& stream)
{
    char header[kMagicHeader.size()];
    stream.read(header, kMagicHeader.size());
    if (stream.fail() || stream.bad())
        throw Error("Cannot read header");
    const std::string_view read(header, kMagicHeader.size());
    if (read != kMagicHeader)
        throw Error(tessel::cat("Invalid header \"", read, "\", expected \"", kMagicHeader, "\""));
}

} // namespace qix::sql::cache_files
