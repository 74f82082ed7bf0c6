#include <qix/util/file_system.h>

#include <sys/stat.h>

#include <cerrno>

namespace qix {

namespace {

bool is_directory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool make_directory(const std::string& path, unsigned int mode)
{
    if (path.empty())
        return false;
    if (is_directory(path))
        return true;
    // Create the parents first; a parent that appears meanwhile is fine.
    const auto slash = path.find_last_of('/', path.size() - 2);
    if (slash != std::string::npos && slash > 0 && !make_directory(path.substr(0, slash), mode))
        return false;
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0)
        return true;
    return errno == EEXIST && is_directory(path);
}

} // namespace qix
