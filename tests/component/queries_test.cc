// The component model and the queries over it: flag look-up, name search, equality, sorting,
// flags, beamline sections, cells and the limits of name patterns.

#include "load_scenarios.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <regex>

namespace {

using namespace qix::test::component;
using qix::sql::Component;
using qix::sql::ComponentList;
using SortOrder = ComponentList::SortOrder;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Component make(const std::string& name, double z, double s, std::vector<bool> flags)
{
    return make_component({name}, {0, 0, z, s}, std::move(flags));
}

// The components' names, separated by blanks.
template <typename Ptr>
std::string names(const std::vector<Ptr>& components)
{
    std::string result;
    for (const auto* component : components)
        result += (result.empty() ? "" : " ") + component->name_;
    return result;
}

// Flags MAGNET and QUAD. Positions by s: QF1 10, QD1 15, B1 20, QF2 20, QD2 NaN, QF3 5.
ComponentList beamline()
{
    ComponentList list;
    list.flag_names_ = {"MAGNET", "QUAD"};
    list.components_ = {make("QF1", 1.0, 10.0, {true, true}),  make("QD1", 2.0, 15.0, {true, true}),
                        make("B1", 3.0, 20.0, {true, false}),  make("QF2", 4.0, 20.0, {true, true}),
                        make("QD2", kNaN, kNaN, {true, true}), make("QF3", 0.5, 5.0, {false, true})};
    return list;
}

TEST(ComponentModel, NamesMatchWholeInAnyCase)
{
    ComponentList list;
    EXPECT_EQ(list.find_component_by_name(""), nullptr);
    list.components_ = {make("QF.01", 0, 0, {}), make("qf.01", 0, 0, {}), make("", 0, 0, {})};
    EXPECT_EQ(list.find_component_by_name("qf.01"), &list.components_[0]);
    EXPECT_EQ(list.find_component_by_name(""), &list.components_[2]);
    EXPECT_EQ(list.find_component_by_name("QF.0"), nullptr);
    EXPECT_EQ(std::as_const(list).find_component_by_name("Qf.01"), &list.components_[0]);
}

TEST(ComponentModel, EqualityComparesEveryValue)
{
    const ComponentList line = beamline();
    ComponentList finite = line;
    finite.components_[4].z_ = finite.components_[4].s_ = 7.0;
    EXPECT_NE(line, line) << "a NaN position is unequal even to itself";
    EXPECT_EQ(finite, ComponentList(finite));
    ComponentList changed = finite;
    changed.components_[0].x_ = -0.0;
    EXPECT_EQ(changed, finite) << "0.0 equals -0.0";
    const std::function<void(ComponentList&)> changes[] = {
        [](auto& l) { l.components_[0].link_name_ = "L"; }, [](auto& l) { l.components_[5].flags_.push_back(false); },
        [](auto& l) { std::swap(l.flag_names_[0], l.flag_names_[1]); },
        [](auto& l) { std::swap(l.components_[0], l.components_[1]); }, [](auto& l) { l.clear(); }};
    for (const auto& change : changes) {
        change(changed = finite);
        EXPECT_NE(changed, finite);
    }
    EXPECT_EQ(changed, ComponentList());
}

TEST(ComponentQueries, SortsWithNaNKeysLast)
{
    ComponentList list = beamline();
    EXPECT_EQ(names(list.get_sorted_list(SortOrder::none)), "QF1 QD1 B1 QF2 QD2 QF3");
    EXPECT_EQ(names(std::as_const(list).get_sorted_list(SortOrder::z)), "QF3 QF1 QD1 B1 QF2 QD2");

    // Enough elements, many of them equal, for introsort's partitioning, where an inconsistent
    // order can run off the end of the range.
    ComponentList many;
    for (int i = 0; i < 2000; ++i)
        many.components_.push_back(make("C", 0, i % 3 == 0 ? kNaN : (i * 7919) % 1000, {}));
    const auto sorted = many.get_sorted_list(SortOrder::s);
    const auto key = [](const Component* c) { return std::isnan(c->s_) ? kInf : c->s_; }; // no s is infinite
    EXPECT_EQ(std::is_sorted_until(sorted.begin(), sorted.end(), [&](auto* a, auto* b) { return key(a) < key(b); }) -
                  sorted.begin(),
              2000);
}

// The flag asked for is upper-cased; the list's flag names are taken as they are.
TEST(ComponentQueries, FindsFlagsInAnyCase)
{
    ComponentList list = beamline();
    list.components_.push_back(make("SHORT", 0.0, 0.0, {true})); // has no QUAD bit
    EXPECT_EQ(names(list.find_components_with_flag("quad", SortOrder::s)), "QF3 QF1 QD1 QF2 QD2");
    EXPECT_EQ(names(std::as_const(list).find_components_with_flag("Magnet", SortOrder::none)),
              "QF1 QD1 B1 QF2 QD2 SHORT");
    EXPECT_EQ(names(list.find_components_with_flag("KICKER", SortOrder::z)), "");
    EXPECT_EQ(list.get_flag_idx("Quad"), 1);
    list.flag_names_[1] = "quad";
    EXPECT_EQ(list.get_flag_idx("quad"), -1);
    EXPECT_EQ(ComponentList().get_flag_idx("QUAD"), -1);
}

TEST(ComponentQueries, ExtractsBeamlinesBetweenInclusiveBounds)
{
    ComponentList list = beamline();
    EXPECT_EQ(names(list.extract_beamline("quad", 10.0, 20.0, SortOrder::s)), "QF1 QD1 QF2");
    EXPECT_EQ(names(std::as_const(list).extract_beamline("MAGNET", 2.0, 4.0, SortOrder::z)), "QD1 B1 QF2");
    EXPECT_EQ(names(list.extract_beamline("QUAD", 20.0, 10.0, SortOrder::s)), "");
    EXPECT_EQ(names(list.extract_beamline("QUAD", -1e300, 1e300, static_cast<SortOrder>(7))), "");
    EXPECT_EQ(names(list.extract_beamline("QUAD", -kInf, kInf, SortOrder::s)), "QF3 QF1 QD1 QF2")
        << "NaN positions lie in no range";
    for (const char* flag : {"QUAD", "UNKNOWN"})
        EXPECT_EQ(message_of([&] { (void)list.extract_beamline(flag, 0.0, 1.0, SortOrder::none); }),
                  "SortOrder::none is not allowed for extract_beamline()");
}

// The names of each cell, separated by "|".
template <typename Ptr>
std::string cell_names(const std::vector<std::vector<Ptr>>& cells)
{
    std::string result;
    for (const auto& cell : cells)
        result += (result.empty() ? "" : "|") + names(cell);
    return result;
}

TEST(ComponentQueries, CellsCheckTheirArgumentsAndSurroundEveryWholeNameMatch)
{
    ComponentList list = beamline();
    const auto all = list.get_sorted_list(SortOrder::none);
    const auto cells = [&all](const std::string& pattern, SortOrder order, double before, double after) {
        return ComponentList::extract_cells_around_components(all, pattern, order, before, after);
    };
    const std::tuple<const char*, SortOrder, double, double, const char*> errors[] = {
        {"QF1", SortOrder::s, 0.5, 1.0, "meters_before must be negative or zero"},
        {"QF1", SortOrder::s, kNaN, 1.0, "meters_before must be negative or zero"},
        {"(", SortOrder::s, -1.0, -0.5, "meters_after must be positive or zero"},
        {"QF1", SortOrder::s, -1.0, kNaN, "meters_after must be positive or zero"},
        {"QF1", SortOrder::none, -1.0, 1.0, "Invalid sort order (must be z or s)"},
        {"nothing", SortOrder::none, -1.0, 1.0, "(no qix::Error thrown)"}};
    for (const auto& [pattern, order, before, after, message] : errors)
        EXPECT_EQ(message_of([&] { (void)cells(pattern, order, before, after); }), message) << pattern;
    EXPECT_THROW((void)cells("(", SortOrder::s, -1.0, 1.0), std::regex_error);
    EXPECT_EQ(cells("QF", SortOrder::s, -5.0, 5.0).size(), 0u);
    EXPECT_EQ(cell_names(cells("qf1", SortOrder::s, -5.0, 5.0)), "QF3 QF1 QD1");

    // B1 and QF2 share s = 20: each cell at an exact position holds both, in sorted order.
    const std::string exact = cell_names(cells("B1|qf2", SortOrder::s, -0.0, 0.0));
    EXPECT_TRUE(exact == "B1 QF2|B1 QF2" || exact == "QF2 B1|QF2 B1") << exact;

    // QF1 (10) and QD1 (15) lie within each other's range; QD2 has no position and an empty
    // cell. QD1's cell holds B1 and QF2 in either order.
    const std::string overlapping = cell_names(ComponentList::extract_cells_around_components(
        std::as_const(list).get_sorted_list(SortOrder::none), "Q[FD][12]", SortOrder::s, -5.0, 0.0));
    EXPECT_TRUE(overlapping == "QF3 QF1|QF1 QD1|QD1 B1 QF2|" || overlapping == "QF3 QF1|QF1 QD1|QD1 QF2 B1|")
        << overlapping;
}

// Patterns and names that overflowed the stack or ran for minutes: each finishes, in a child
// process with a 1 MB stack, within a 60-second alarm, or is refused.
TEST(ComponentQueries, NamePatternsFinishWithinASmallStackOrAreRefused)
{
    const auto error = [](std::regex_constants::error_type code) {
        return "regex_error " + std::to_string(static_cast<int>(code));
    };
    const auto repeated = [](const std::string& text, int count) {
        std::string result;
        for (int i = 0; i < count; ++i)
            result += text;
        return result;
    };
    std::vector<std::string> demo; // names shaped like the demo facility's, one in a hundred ending in X
    for (int i = 0; i < 2482; ++i)
        demo.push_back(std::string("Q") + "FDBSK"[i % 5] + ".S" + std::to_string(i / 100) + "." +
                       std::to_string(i % 100) + (i % 100 == 0 ? "X" : ""));
    const std::string long_name(30000, 'a'), space = error(std::regex_constants::error_space),
                                             complexity = error(std::regex_constants::error_complexity);
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>, std::string>> cases = {
        {"any name", ".*", {long_name}, "1 cells"},
        {"nested stars", "(.*)*X", demo, "25 cells"},
        {"two nested stars", "(.*)*(.*)*X", demo, "25 cells"},
        {"two nested stars, long name", "(.*)*(.*)*X", {long_name + "x", long_name}, "1 cells"},
        {"20,000 nested groups", repeated("(", 20000) + "a" + repeated(")", 20000), {"a"}, space},
        {"100 nested groups", repeated("(", 100) + "a" + repeated(")", 100), {"A", "b"}, "1 cells"},
        {"101 nested groups", repeated("(", 101) + "a" + repeated(")", 101), {"a"}, complexity},
        {"escaped and bracketed parentheses", repeated("\\(", 150) + "[(]*", {std::string(150, '(')}, "1 cells"},
        {"1000 characters", repeated("(a?)", 250), {"", std::string(250, 'a'), std::string(251, 'a')}, "2 cells"},
        {"repetitions within the size", "(?:a?){300}", {"aaa"}, "1 cells"},
        {"repetitions beyond the size", "(a{50}){50}", {"a"}, complexity},
        {"a backreference", "(a)\\1", {"aa"}, complexity},
    };
    // The stack limit applies to the child's main thread as its stack grows.
    EXPECT_TRUE(in_child(false, [&] {
        const rlimit stack{1 << 20, 1 << 20};
        if (::alarm(60) != 0 || ::setrlimit(RLIMIT_STACK, &stack) != 0)
            return false;
        for (const auto& [what, pattern, names, expected] : cases) {
            ComponentList list;
            for (const std::string& name : names)
                list.components_.push_back(make(name, 0.0, 0.0, {}));
            std::string outcome; // "N cells", or the regex_error's code
            try {
                outcome = std::to_string(ComponentList::extract_cells_around_components(
                                             list.get_sorted_list(SortOrder::none), pattern, SortOrder::s, -0.0, 0.0)
                                             .size()) +
                          " cells";
            } catch (const std::regex_error& e) {
                outcome = error(e.code());
            }
            EXPECT_EQ(outcome, expected) << what;
        }
        return !::testing::Test::HasFailure();
    })) << "with a 1 MB stack";
}

} // namespace
