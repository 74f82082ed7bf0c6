// The component list model, its queries and its loading from the database. The list file
// format lives in ComponentListFile.cc.

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>
#include <qix/sql/Database.h>
#include <qix/sql/functions.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include "block_fetch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <regex>
#include <span>

namespace qix::sql {

namespace {

using SortOrder = ComponentList::SortOrder;

constexpr std::string_view kSchema = "VEDUV";
constexpr std::string_view kFlagPrefix = "FLAG_";
// Oracle's VARCHAR2 holds at most 4000 bytes; one more for the terminator.
constexpr std::size_t kTextCapacity = 4001;

using component_fields::kFirstFlagColumn;
using component_fields::kLeadingTexts;
using component_fields::kLinkName;
using component_fields::kPositions;

// Every text column of the view with its number: the leading texts, then the link name.
struct TextColumn {
    int number = 0;
    std::string_view name;
    std::string Component::*member = nullptr;
};

constexpr auto kTextColumns = [] {
    std::array<TextColumn, kLeadingTexts.size() + 1> columns{};
    for (std::size_t i = 0; i < kLeadingTexts.size(); ++i)
        columns[i] = {static_cast<int>(i) + 1, kLeadingTexts[i].column, kLeadingTexts[i].member};
    columns.back() = {component_fields::kLinkNameColumn, kLinkName.column, kLinkName.member};
    return columns;
}();

bool is_facility_character(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

// Flag column names come from the dictionary and go into the component query as they are, so
// only an unquoted identifier may: a quoted name could end the query and start another one.
bool is_identifier_character(char c) noexcept { return is_facility_character(c) || c == '$' || c == '#'; }

// The canonical facility name. It becomes part of SQL text and of file names, so anything
// beyond upper-case letters, digits and '_' is refused.
std::string checked_facility_name(std::string_view machine)
{
    std::string facility = standardize_facility_name(machine);
    if (facility.empty() || !std::all_of(facility.begin(), facility.end(), is_facility_character))
        throw Error(tessel::cat("Invalid facility name: ", facility));
    return facility;
}

std::string component_statement(const std::vector<std::string>& flag_names, const std::string& view)
{
    std::string statement("SELECT ");
    for (std::size_t i = 0; i < component_fields::kColumns.size(); ++i)
        statement.append(i == 0 ? "" : ", ").append(component_fields::kColumns[i]);
    for (const std::string& flag : flag_names)
        statement.append(", ").append(kFlagPrefix).append(flag);
    return statement.append(" FROM ").append(kSchema).append(".").append(view);
}

// Rows asked of the driver per fetch when it takes a rowset size above one: one call through
// the driver manager and the driver per rowset instead of one per row.
constexpr std::size_t kRowsetSize = 64;

// The bound arrays of one load, one rowset long, allocated once and bound on `block`. For a NULL
// the driver writes only the indicator, by which a text reads as "", a number as 0.0 and a flag
// as false. The text arrays are left uninitialised, as most of their pages are never needed for
// short texts and small results.
class RowsetBuffers {
public:
    RowsetBuffers(detail::BlockFetch& block, std::size_t flag_count)
        : flag_count_(flag_count),
          texts_(std::make_unique_for_overwrite<char[]>(kTextColumns.size() * kRowsetSize * kTextCapacity)),
          numbers_(kPositions.size() * kRowsetSize), flags_(flag_count * kRowsetSize)
    {
        for (std::size_t i = 0; i < kTextColumns.size(); ++i)
            text_indicators_.push_back(
                block.bind(kTextColumns[i].number, CDataType::c_char, text(i, 0), static_cast<SQLLEN>(kTextCapacity)));
        for (std::size_t i = 0; i < kPositions.size(); ++i)
            number_indicators_.push_back(block.bind(component_fields::kFirstPositionColumn + static_cast<int>(i),
                                                    CDataType::c_double, &numbers_[i * kRowsetSize], sizeof(double)));
        for (std::size_t i = 0; i < flag_count_; ++i)
            flag_indicators_.push_back(block.bind(kFirstFlagColumn + static_cast<int>(i), CDataType::c_ushort,
                                                  &flags_[i * kRowsetSize], sizeof(unsigned short)));
    }

    // A value the buffer could not hold would be stored cut; refuse it instead. The indicator is
    // the full length, or SQL_NO_TOTAL (a huge value here) when the driver does not know it.
    void check_text_lengths(std::size_t row) const
    {
        for (std::size_t i = 0; i < kTextColumns.size(); ++i) {
            const SQLLEN length = text_indicators_[i][row];
            if (length != SQL_NULL_DATA && static_cast<unsigned long>(length) >= kTextCapacity)
                throw Error(tessel::cat("Value of column ", kTextColumns[i].name, " of component ", text_value(0, row),
                                        " is longer than ", std::to_string(kTextCapacity - 1), " bytes"));
        }
    }

    void fill(Component& component, std::size_t row) const
    {
        for (std::size_t i = 0; i < kTextColumns.size(); ++i)
            component.*kTextColumns[i].member = text_value(i, row);
        for (std::size_t i = 0; i < kPositions.size(); ++i)
            component.*kPositions[i].member =
                number_indicators_[i][row] == SQL_NULL_DATA ? 0.0 : numbers_[i * kRowsetSize + row];
        component.flags_.resize(flag_count_);
        for (std::size_t i = 0; i < flag_count_; ++i)
            component.flags_[i] = flag_indicators_[i][row] != SQL_NULL_DATA && flags_[i * kRowsetSize + row] != 0;
    }

private:
    [[nodiscard]] char* text(std::size_t column, std::size_t row) const noexcept
    {
        return &texts_[(column * kRowsetSize + row) * kTextCapacity];
    }

    // The text up to its first NUL; "" for NULL.
    [[nodiscard]] std::string_view text_value(std::size_t column, std::size_t row) const noexcept
    {
        if (text_indicators_[column][row] == SQL_NULL_DATA)
            return {};
        const char* value = text(column, row);
        return {value, ::strnlen(value, kTextCapacity)};
    }

    std::size_t flag_count_;
    std::unique_ptr<char[]> texts_;
    std::vector<double> numbers_;
    std::vector<unsigned short> flags_;
    std::vector<std::span<const SQLLEN>> text_indicators_;
    std::vector<std::span<const SQLLEN>> number_indicators_;
    std::vector<std::span<const SQLLEN>> flag_indicators_;
};

bool same_component(const Component& a, const Component& b) noexcept
{
    for (const TextColumn& column : kTextColumns)
        if (a.*column.member != b.*column.member)
            return false;
    for (const ComponentNumberField& position : kPositions)
        if (!(a.*position.member == b.*position.member))
            return false;
    return a.flags_ == b.flags_;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept
{
    const auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// Position key of a sort order; null for orders that have none.
double Component::*position_key(SortOrder sort_order) noexcept
{
    switch (sort_order) {
    case SortOrder::z: return &Component::z_;
    case SortOrder::s: return &Component::s_;
    default: return nullptr;
    }
}

// Ascending, with NaN after every number: a strict weak order even when keys are NaN.
bool position_less(double a, double b) noexcept { return a < b || (!std::isnan(a) && std::isnan(b)); }

// A component with fewer flag bits than the list has names lacks the missing flags.
bool has_flag(const Component& component, int idx) noexcept
{
    return idx >= 0 && static_cast<std::size_t>(idx) < component.flags_.size() && component.flags_[idx];
}

template <typename ComponentPtr, typename Components>
std::vector<ComponentPtr> all_pointers(Components& components)
{
    std::vector<ComponentPtr> pointers;
    pointers.reserve(components.size());
    for (auto& component : components)
        pointers.push_back(&component);
    return pointers;
}

// Name patterns. libstdc++ compiles a pattern by recursive descent, one level per term and
// per group, and its default matcher backtracks, one level per character matched and
// exponential in time. So a pattern is checked for size before it is compiled, and matched by
// the polynomial (Thompson) executor, which follows the automaton's states breadth first: its
// recursion is bounded by the automaton's size, and its time by name length times that size.
// That executor cannot follow backreferences; the compiler rejects them (error_complexity).
constexpr std::size_t kMaxPatternLength = 1000;
// The automaton's size estimated from the pattern, counted repetitions ({n,m}) expanded.
constexpr std::size_t kMaxPatternSize = 2000;
// Groups inside groups: the compiler descends four calls deep for each, which in a thread with a
// small stack (or a build whose frames are larger) ends the process long before the length limit.
constexpr std::size_t kMaxGroupDepth = 100;

// One more than kMaxPatternSize at most, so that products cannot overflow.
std::size_t capped(std::size_t size) noexcept { return std::min(size, kMaxPatternSize + 1); }

// Length of the bracket expression starting at `open` (its '['), up to its closing ']'.
std::size_t bracket_length(std::string_view pattern, std::size_t open) noexcept
{
    std::size_t i = open + 1;
    if (i < pattern.size() && pattern[i] == '^')
        ++i;
    for (; i < pattern.size() && pattern[i] != ']'; ++i) {
        if (pattern[i] == '\\')
            ++i;
        else if (pattern[i] == '[' && i + 1 < pattern.size() &&
                 std::string_view(":.=").find(pattern[i + 1]) != std::string_view::npos) {
            const std::size_t close = pattern.find(std::string{pattern[i + 1], ']'}, i + 2);
            i = close == std::string_view::npos ? pattern.size() : close + 1;
        }
    }
    return std::min(i + 1, pattern.size()) - open;
}

// The repeat count of a brace quantifier "{n}", "{n,}" or "{n,m}" at `open`, and its length;
// a count of 1 where the braces are malformed, which the compiler then reports.
std::pair<std::size_t, std::size_t> brace_repeat(std::string_view pattern, std::size_t open) noexcept
{
    std::size_t bounds[2] = {0, 0};
    std::size_t bound = 0; // 1 after the comma
    bool upper_given = false;
    std::size_t i = open + 1;
    for (; i < pattern.size() && pattern[i] != '}'; ++i) {
        const char c = pattern[i];
        if (c == ',' && bound == 0) {
            bound = 1;
        } else if (c >= '0' && c <= '9') {
            bounds[bound] = capped(bounds[bound] * 10 + static_cast<std::size_t>(c - '0'));
            upper_given = upper_given || bound == 1;
        } else {
            return {1, i - open};
        }
    }
    // {n,} is n copies and a loop: one copy more.
    const std::size_t count = bound == 0 ? bounds[0] : upper_given ? std::max(bounds[0], bounds[1]) : bounds[0] + 1;
    return {std::max<std::size_t>(count, 1), i + 1 - open};
}

// What a pattern costs to compile and match: the size of its automaton, estimated from above
// (each character counts one, and a counted repetition copies what it repeats), and how deeply
// its groups nest (escaped parentheses and bracket expressions do not count).
struct PatternCost {
    std::size_t size = 0;
    std::size_t depth = 0;
};

PatternCost pattern_cost(std::string_view pattern) noexcept
{
    std::size_t depth = 0;
    std::vector<std::size_t> groups{0}; // size of each open group so far, outermost first
    std::size_t last = 0;               // size of the last atom, which a quantifier repeats
    for (std::size_t i = 0; i < pattern.size();) {
        std::size_t length = 1;
        std::size_t size = 1;
        switch (pattern[i]) {
        case '\\': length = size = 2; break;
        case '[': length = size = bracket_length(pattern, i); break;
        case '(':
            groups.push_back(1);
            depth = std::max(depth, groups.size() - 1);
            ++i;
            continue;
        case ')':
            if (groups.size() > 1) {
                size = capped(groups.back() + 1);
                groups.pop_back();
            }
            break;
        case '{': {
            const auto [count, brace_length] = brace_repeat(pattern, i);
            groups.back() = capped(groups.back() + last * (count - 1) + 1);
            last = capped(last * count);
            i += brace_length;
            continue;
        }
        case '*':
        case '+':
        case '?':
        case '|':
            groups.back() = capped(groups.back() + 1);
            ++i;
            continue;
        default: break;
        }
        groups.back() = capped(groups.back() + size);
        last = size;
        i += length;
    }
    std::size_t total = 0;
    for (const std::size_t group : groups)
        total = capped(total + group);
    return {total, depth};
}

// Compiles a name pattern (ECMAScript, case-insensitive) that is safe to match against names
// of any length: see kMaxPatternLength.
std::regex compile_name_pattern(const std::string& name_regex)
{
    if (name_regex.size() > kMaxPatternLength)
        throw std::regex_error(std::regex_constants::error_space);
    if (const PatternCost cost = pattern_cost(name_regex); cost.size > kMaxPatternSize || cost.depth > kMaxGroupDepth)
        throw std::regex_error(std::regex_constants::error_complexity);
    return std::regex(name_regex, std::regex::ECMAScript | std::regex::icase | std::regex_constants::__polynomial);
}

} // namespace

namespace detail {

template <typename ComponentPtr>
ComponentPtr find_component_by_name(const_like_t<ComponentPtr, std::vector<Component>>& components,
                                    std::string_view name) noexcept
{
    for (auto& component : components)
        if (equal_ignoring_ascii_case(component.name_, name))
            return &component;
    return nullptr;
}

template <typename ComponentPtr>
void sort_component_pointers(std::vector<ComponentPtr>& components, ComponentList::SortOrder sort_order)
{
    const auto key = position_key(sort_order);
    if (key == nullptr)
        return;
    // Sorting (position, pointer) pairs keeps every comparison inside one array. Comparing
    // through the pointers costs a cache miss per comparison once the list outgrows the caches.
    std::vector<std::pair<double, ComponentPtr>> keyed;
    keyed.reserve(components.size());
    for (const ComponentPtr component : components)
        keyed.emplace_back(component->*key, component);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return position_less(a.first, b.first); });
    std::transform(keyed.begin(), keyed.end(), components.begin(), [](const auto& entry) { return entry.second; });
}

template <typename ComponentPtr>
std::vector<ComponentPtr> find_components_with_flag(const_like_t<ComponentPtr, ComponentList>& list,
                                                    const std::string& flag_name, ComponentList::SortOrder sort_order)
{
    std::vector<ComponentPtr> result;
    const int idx = list.get_flag_idx(flag_name);
    if (idx < 0)
        return result;
    for (auto& component : list.components_)
        if (has_flag(component, idx))
            result.push_back(&component);
    sort_component_pointers(result, sort_order);
    return result;
}

template <typename ComponentPtr>
std::vector<ComponentPtr> extract_beamline(const_like_t<ComponentPtr, ComponentList>& list, const std::string& flag,
                                           double z_or_s_start, double z_or_s_end, ComponentList::SortOrder sort_order)
{
    auto result = find_components_with_flag<ComponentPtr>(list, flag, SortOrder::none);
    if (sort_order == SortOrder::none)
        throw Error("SortOrder::none is not allowed for extract_beamline()");
    const auto key = position_key(sort_order);
    if (key == nullptr)
        return {};
    std::erase_if(result, [&](ComponentPtr component) {
        const double position = component->*key;
        return std::isnan(position) || position < z_or_s_start || position > z_or_s_end;
    });
    sort_component_pointers(result, sort_order);
    return result;
}

/// From `start_idx`, skips the elements outside the cell, then takes elements while they are
/// in it.
template <typename ComponentPtr, typename InCell>
std::vector<ComponentPtr> create_cell_from_range(const std::vector<ComponentPtr>& sorted_component_ptrs,
                                                 std::size_t start_idx, InCell is_in_cell)
{
    std::size_t idx = start_idx;
    while (idx < sorted_component_ptrs.size() && !is_in_cell(sorted_component_ptrs[idx]))
        ++idx;
    std::vector<ComponentPtr> cell;
    for (; idx < sorted_component_ptrs.size() && is_in_cell(sorted_component_ptrs[idx]); ++idx)
        cell.push_back(sorted_component_ptrs[idx]);
    return cell;
}

template <typename ComponentPtr>
std::vector<std::vector<ComponentPtr>>
extract_cells_around_components(const std::vector<ComponentPtr>& component_ptrs, const std::string& name_regex,
                                ComponentList::SortOrder sort_order, double meters_before, double meters_after)
{
    if (!(meters_before <= 0.0))
        throw Error("meters_before must be negative or zero");
    if (!(meters_after >= 0.0))
        throw Error("meters_after must be positive or zero");
    const std::regex pattern = compile_name_pattern(name_regex);
    std::vector<ComponentPtr> sorted(component_ptrs);
    sort_component_pointers(sorted, sort_order);

    std::vector<std::vector<ComponentPtr>> cells;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (!std::regex_match(sorted[i]->name_, pattern))
            continue;
        const auto key = position_key(sort_order);
        if (key == nullptr)
            throw Error("Invalid sort order (must be z or s)");
        const double low = sorted[i]->*key + meters_before;
        const double high = sorted[i]->*key + meters_after;
        const auto is_in_cell = [key, low, high](ComponentPtr component) {
            return low <= component->*key && component->*key <= high;
        };
        std::size_t start = i;
        while (start > 0 && is_in_cell(sorted[start - 1]))
            --start;
        cells.push_back(create_cell_from_range(sorted, start, is_in_cell));
    }
    return cells;
}

#define QIX_INSTANTIATE_COMPONENT_QUERIES(Ptr)                                                                         \
    template Ptr find_component_by_name<Ptr>(const_like_t<Ptr, std::vector<Component>>&, std::string_view) noexcept;   \
    template void sort_component_pointers<Ptr>(std::vector<Ptr>&, ComponentList::SortOrder);                           \
    template std::vector<Ptr> find_components_with_flag<Ptr>(const_like_t<Ptr, ComponentList>&, const std::string&,    \
                                                             ComponentList::SortOrder);                                \
    template std::vector<Ptr> extract_beamline<Ptr>(const_like_t<Ptr, ComponentList>&, const std::string&, double,     \
                                                    double, ComponentList::SortOrder);                                 \
    template std::vector<std::vector<Ptr>> extract_cells_around_components<Ptr>(                                       \
        const std::vector<Ptr>&, const std::string&, ComponentList::SortOrder, double, double);

QIX_INSTANTIATE_COMPONENT_QUERIES(Component*)
QIX_INSTANTIATE_COMPONENT_QUERIES(const Component*)

#undef QIX_INSTANTIATE_COMPONENT_QUERIES

} // namespace detail

void ComponentList::clear() noexcept
{
    components_.clear();
    flag_names_.clear();
}

std::vector<Component*> ComponentList::extract_beamline(const std::string& flag, double z_or_s_start, double z_or_s_end,
                                                        SortOrder sort_order)
{
    return detail::extract_beamline<Component*>(*this, flag, z_or_s_start, z_or_s_end, sort_order);
}

std::vector<const Component*> ComponentList::extract_beamline(const std::string& flag, double z_or_s_start,
                                                              double z_or_s_end, SortOrder sort_order) const
{
    return detail::extract_beamline<const Component*>(*this, flag, z_or_s_start, z_or_s_end, sort_order);
}

std::vector<std::vector<Component*>>
ComponentList::extract_cells_around_components(const std::vector<Component*>& component_ptrs,
                                               const std::string& name_regex, SortOrder sort_order,
                                               double meters_before, double meters_after)
{
    return detail::extract_cells_around_components(component_ptrs, name_regex, sort_order, meters_before, meters_after);
}

std::vector<std::vector<const Component*>>
ComponentList::extract_cells_around_components(const std::vector<const Component*>& component_ptrs,
                                               const std::string& name_regex, SortOrder sort_order,
                                               double meters_before, double meters_after)
{
    return detail::extract_cells_around_components(component_ptrs, name_regex, sort_order, meters_before, meters_after);
}

Component* ComponentList::find_component_by_name(std::string_view name) noexcept
{
    return detail::find_component_by_name<Component*>(components_, name);
}

const Component* ComponentList::find_component_by_name(std::string_view name) const noexcept
{
    return detail::find_component_by_name<const Component*>(components_, name);
}

std::vector<Component*> ComponentList::find_components_with_flag(const std::string& flag_name, SortOrder sort_order)
{
    return detail::find_components_with_flag<Component*>(*this, flag_name, sort_order);
}

std::vector<const Component*> ComponentList::find_components_with_flag(const std::string& flag_name,
                                                                       SortOrder sort_order) const
{
    return detail::find_components_with_flag<const Component*>(*this, flag_name, sort_order);
}

int ComponentList::get_flag_idx(const std::string& name) const
{
    const std::string wanted = tessel::uppercase_ascii(name);
    const auto found = std::find(flag_names_.begin(), flag_names_.end(), wanted);
    return found == flag_names_.end() ? -1 : static_cast<int>(found - flag_names_.begin());
}

std::vector<Component*> ComponentList::get_sorted_list(SortOrder sort_order)
{
    auto result = all_pointers<Component*>(components_);
    detail::sort_component_pointers(result, sort_order);
    return result;
}

std::vector<const Component*> ComponentList::get_sorted_list(SortOrder sort_order) const
{
    auto result = all_pointers<const Component*>(components_);
    detail::sort_component_pointers(result, sort_order);
    return result;
}

std::string ComponentList::read_from_db_with_backup(Database& db, const std::string& machine,
                                                    std::string backup_filename)
{
    const std::string facility = checked_facility_name(machine);
    if (backup_filename.empty())
        backup_filename = tessel::cat("db_component_list_", facility, ".txt");
    std::string message;
    try {
        load_from_db(db, facility);
    } catch (const Error& db_error) {
        message = db_error.get_message();
        try {
            read_from_file(backup_filename);
        } catch (const Error& file_error) {
            throw Error(tessel::cat(message, "; ", file_error.get_message()));
        }
    }
    try {
        write_to_file(backup_filename);
    } catch (const Error& write_error) {
        message = write_error.get_message();
    }
    return message;
}

void ComponentList::read_from_db(Database& db, const std::string& machine)
{
    load_from_db(db, checked_facility_name(machine));
}

void ComponentList::load_from_db(Database& db, const std::string& facility)
{
    clear();
    const std::string view = tessel::cat(facility, "_VIEW_COMPONENTS");
    read_flag_names_from_db_table(db, view);

    Query query = db.send_query(component_statement(flag_names_, view));
    detail::BlockFetch block(query, kRowsetSize);
    const RowsetBuffers buffers(block, flag_names_.size());
    while (block.fetch()) {
        for (std::size_t row = 0; row < block.rows(); ++row) {
            block.check_row(row);
            buffers.check_text_lengths(row);
            buffers.fill(components_.emplace_back(), row);
        }
    }
}

void ComponentList::read_flag_names_from_db_table(Database& db, const std::string& table)
{
    flag_names_.clear();
    for (const std::string& column : db.read_column_names(table, kSchema)) {
        std::string name = tessel::uppercase_ascii(column);
        if (!name.starts_with(kFlagPrefix))
            continue;
        // FLAG_ alone would be the empty flag name, which a list file cannot hold.
        if (name.size() == kFlagPrefix.size() || !std::all_of(name.begin(), name.end(), is_identifier_character))
            throw Error(tessel::cat("Invalid flag column name: ", name));
        flag_names_.push_back(name.substr(kFlagPrefix.size()));
    }
}

bool operator==(const ComponentList& a, const ComponentList& b)
{
    return std::equal(a.components_.begin(), a.components_.end(), b.components_.begin(), b.components_.end(),
                      same_component) &&
           a.flag_names_ == b.flag_names_;
}

bool operator!=(const ComponentList& a, const ComponentList& b) { return !(a == b); }

} // namespace qix::sql
