// Every seed of the fuzz targets, and every input that once broke one, replayed through its
// target with the compiler and (in the sanitizer build) the sanitizers of the test suite.

#include "targets.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(FuzzCorpus, EveryInputOfEveryTarget)
{
    const std::pair<const char*, void (*)(std::string_view)> targets[] = {{"list_file", qix::fuzz::list_file},
                                                                          {"list_number", qix::fuzz::list_number},
                                                                          {"escape", qix::fuzz::escape},
                                                                          {"facility_name", qix::fuzz::facility_name},
                                                                          {"timestamp_text", qix::fuzz::timestamp_text},
                                                                          {"field_name", qix::fuzz::field_name},
                                                                          {"driver", qix::fuzz::driver}};
    for (const auto& [target, run] : targets) {
        int inputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(QIX_FUZZ_CORPUS / std::filesystem::path(target))) {
            SCOPED_TRACE(entry.path().string());
            run(qix::test::slurp(entry.path())); // a broken property aborts with the target's message
            ++inputs;
        }
        EXPECT_GT(inputs, 0) << "no seeds for " << target;
    }
}

} // namespace
