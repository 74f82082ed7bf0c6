#include "LiteSource.h"

#include <fstream>
#include <map>
#include <stdexcept>

namespace qix::test {

namespace {

// SQLite takes an empty file for an empty database, so no driver is needed to create one.
void create_empty_file(const std::filesystem::path& file)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("Unable to create " + file.string());
}

std::string join(const std::vector<std::string>& names)
{
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

} // namespace

LiteSource::LiteSource(const std::vector<std::string>& schemas, MainFile main_file)
{
    if (main_file == MainFile::create)
        create_empty_file(database_file());
    for (const auto& schema : schemas)
        create_empty_file(schema_file(schema));
    std::map<std::string, std::string> attributes{{"Database", database_file().string()}};
    if (!schemas.empty())
        attributes["Schemas"] = join(schemas);
    dsn_ = register_dsn("QixLite", attributes);
}

LiteSource::~LiteSource() { unregister_dsn(dsn_); }

void LiteSource::execute(const std::vector<std::string>& statements) const { run_raw_statements(dsn_, "", statements); }

} // namespace qix::test
