// Every seed of the fuzz targets, and every input that once broke one, replayed through its
// target with the compiler and (in the sanitizer build) the sanitizers of the test suite.

#include "targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void replay(const std::string& target, void (*run)(std::string_view))
{
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(fs::path(QIX_FUZZ_CORPUS) / target))
        inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << "no seeds for " << target;
    for (const auto& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        SCOPED_TRACE(input.string());
        // A broken property aborts, which ctest reports with the target's message.
        run(bytes);
    }
}

TEST(FuzzCorpus, ListFile) { replay("list_file", qix::fuzz::list_file); }
TEST(FuzzCorpus, ListNumber) { replay("list_number", qix::fuzz::list_number); }
TEST(FuzzCorpus, Escape) { replay("escape", qix::fuzz::escape); }
TEST(FuzzCorpus, FacilityName) { replay("facility_name", qix::fuzz::facility_name); }
TEST(FuzzCorpus, TimestampText) { replay("timestamp_text", qix::fuzz::timestamp_text); }
TEST(FuzzCorpus, FieldName) { replay("field_name", qix::fuzz::field_name); }

} // namespace
