#include <qix/sql/Cache.h>
#include <qix/util/exceptions.h>
#include <qix/util/sha3.h>
#include <qix/util/string_util.h>
#include <qix/util/tessel.h>

namespace qix::sql {

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

} // namespace qix::sql
