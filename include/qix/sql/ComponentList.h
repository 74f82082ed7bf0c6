#pragma once

#include <qix/sql/Component.h>
#include <qix/util/export.h>

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qix::sql {

class Database;

namespace detail {
class ListFileLines;
}

/// The component list of one facility: its components in load order and the names of the
/// flags that every component carries. Loaded from the facility's view in schema VEDUV or
/// from a list file, saved to a list file, and queried by flag, position and name. Queries
/// return pointers into `components_`, valid until `components_` is next modified.
class QIX_SQL_API ComponentList {
public:
    /// Position key of the sorting queries.
    enum class SortOrder : int {
        none = 0, ///< keep the list order
        z = 1,    ///< ascending by z_
        s = 2,    ///< ascending by s_
    };

    std::vector<Component> components_;
    std::vector<std::string> flag_names_;

    /// Removes all components and all flag names.
    void clear() noexcept;

    /// The components whose flag `flag` is set and whose position by `sort_order` lies in
    /// [z_or_s_start, z_or_s_end] (both inclusive; a NaN position never does), ordered by that
    /// position. An unknown flag gives an empty result; so does a start above the end. Throws
    /// qix::Error "SortOrder::none is not allowed for extract_beamline()" for SortOrder::none.
    [[nodiscard]] std::vector<Component*> extract_beamline(const std::string& flag, double z_or_s_start,
                                                           double z_or_s_end, SortOrder sort_order);
    /// As the non-const overload, handing out pointers to const.
    [[nodiscard]] std::vector<const Component*> extract_beamline(const std::string& flag, double z_or_s_start,
                                                                 double z_or_s_end, SortOrder sort_order) const;

    /// One cell per component of `component_ptrs` whose whole name matches `name_regex`
    /// (ECMAScript, case-insensitive), in the sorted order of the matches: the neighbours, in
    /// `component_ptrs` sorted by `sort_order`, whose position lies within [p + meters_before,
    /// p + meters_after] around the match's position p. Throws qix::Error when meters_before
    /// is positive or NaN, when meters_after is negative or NaN, and when a name matches while
    /// `sort_order` is neither z nor s; std::regex_error for an invalid pattern. Compiles the
    /// pattern once and scans outward from each match only. Matching is safe for names of any
    /// length: it runs libstdc++'s polynomial (Thompson) executor, whose stack depth is bounded
    /// by the pattern and whose time grows with name length times pattern size. Patterns are
    /// therefore limited: longer than 1000 bytes throws std::regex_error error_space; one
    /// whose automaton, counted repetitions ({n,m}) expanded, exceeds about 2000 states, whose
    /// groups nest more than 100 deep, or that has a backreference (which that executor cannot
    /// follow), error_complexity.
    [[nodiscard]] static std::vector<std::vector<Component*>>
    extract_cells_around_components(const std::vector<Component*>& component_ptrs, const std::string& name_regex,
                                    SortOrder sort_order, double meters_before, double meters_after);
    /// As the overload for Component*, on pointers to const.
    [[nodiscard]] static std::vector<std::vector<const Component*>>
    extract_cells_around_components(const std::vector<const Component*>& component_ptrs, const std::string& name_regex,
                                    SortOrder sort_order, double meters_before, double meters_after);

    /// The first component whose name equals `name` apart from ASCII letter case, or null.
    [[nodiscard]] Component* find_component_by_name(std::string_view name) noexcept;
    /// As the non-const overload, handing out a pointer to const.
    [[nodiscard]] const Component* find_component_by_name(std::string_view name) const noexcept;

    /// The components whose flag `flag_name` (looked up as by get_flag_idx) is set, ordered by
    /// `sort_order`; empty for an unknown flag. A component without that flag bit counts as
    /// not having the flag.
    [[nodiscard]] std::vector<Component*> find_components_with_flag(const std::string& flag_name, SortOrder sort_order);
    /// As the non-const overload, handing out pointers to const.
    [[nodiscard]] std::vector<const Component*> find_components_with_flag(const std::string& flag_name,
                                                                          SortOrder sort_order) const;

    /// Index in `flag_names_` of the first name equal to `name` upper-cased in ASCII, or -1.
    /// Flag names holding lower-case letters are therefore never found.
    [[nodiscard]] int get_flag_idx(const std::string& name) const;

    /// Pointers to all components, ordered by `sort_order` (NaN keys after all numbers).
    [[nodiscard]] std::vector<Component*> get_sorted_list(SortOrder sort_order);
    /// As the non-const overload, handing out pointers to const.
    [[nodiscard]] std::vector<const Component*> get_sorted_list(SortOrder sort_order) const;

    /// Loads the list of facility `machine` from the database and keeps a copy in the file
    /// `backup_filename` (empty: "db_component_list_<FACILITY>.txt" in the working directory).
    /// When the database read fails, loads the file instead. Returns "" on full success,
    /// otherwise the message of the failure it absorbed (database read, or the backup write,
    /// which wins). Throws qix::Error for an invalid facility name (before anything else) and
    /// when neither source could be read (database message, "; ", file message).
    std::string read_from_db_with_backup(Database& db, const std::string& machine, std::string backup_filename);

    /// Replaces the content with the component list of facility `machine` from the view
    /// VEDUV.<FACILITY>_VIEW_COMPONENTS, with one flag per FLAG_ column found in the catalogue.
    /// One statement, one pass over bound buffers. Throws qix::Error for an invalid facility
    /// name (list unchanged, no database access), for every database failure including a
    /// fetch that fails part-way, for a text value longer than 4000 bytes, and for a flag
    /// column whose name is not an unquoted identifier or is FLAG_ alone ("Invalid flag column
    /// name: <NAME>"; a list file could not hold the empty flag name).
    void read_from_db(Database& db, const std::string& machine);

    /// Replaces the content with the list file `filename`; blank lines among the flag names
    /// are skipped. Throws qix::Error naming the file when it cannot be opened, holds an
    /// unexpected line, ends inside a section or record, has a malformed number or flags line,
    /// or has a component whose flag count differs from the number of flag names; the list
    /// then holds what was read up to the failure. Messages quote a line of more than 1000
    /// bytes by its first 200 bytes, "…" and its length, as in "…(104857600 bytes)". Peak
    /// memory is about twice the longest line on top of the list itself.
    void read_from_file(const std::string& filename);

    /// Writes the list to the file `filename`. A regular file, or a missing one, is replaced
    /// atomically: the text goes to a new file in the same folder (its name built from a part
    /// of the target's, so that long names stay within the file-name limit), which is flushed
    /// to disk and renamed over the target, taking over its permission bits; the previous file
    /// stays intact on any failure. A symbolic link is followed and the file behind it written
    /// (a dangling link creates its target). A device, FIFO or socket is opened and written in
    /// place, as a plain output stream would: a reader of a FIFO gets the text and a device
    /// stays a device. Where the folder allows no new file but the existing file is writable,
    /// that file itself is truncated, written and flushed to disk: this case is not atomic, and
    /// a failure part-way leaves the file incomplete. Throws qix::Error, before touching any
    /// file, when a component's flag count differs from the number of flag names or a flag
    /// name is empty (the file could not be read back); "Unable to open F for writing" when no
    /// file can be opened or created; "Error while writing to F" when writing, flushing or
    /// renaming fails.
    void write_to_file(const std::string& filename) const;

private:
    // read_from_db for a facility name already standardised and checked.
    void load_from_db(Database& db, const std::string& facility);
    void read_components_from_lines(detail::ListFileLines& lines);
    void read_flag_names_from_db_table(Database& db, const std::string& table);
    void read_flag_names_from_lines(detail::ListFileLines& lines);
};

/// Full value comparison: components pairwise (nine strings byte for byte, positions with
/// floating-point ==, flag bits), then flag names. A NaN position makes lists unequal.
[[nodiscard]] QIX_SQL_API bool operator==(const ComponentList& a, const ComponentList& b);
[[nodiscard]] QIX_SQL_API bool operator!=(const ComponentList& a, const ComponentList& b);

// The shared logic of the const and non-const queries, one template per query on the pointer
// type handed out (Component* or const Component*), instantiated for both in the library.
namespace detail {

/// `T`, const-qualified when ComponentPtr points to const.
template <typename ComponentPtr, typename T>
using const_like_t = std::conditional_t<std::is_const_v<std::remove_pointer_t<ComponentPtr>>, const T, T>;

template <typename ComponentPtr>
[[nodiscard]] ComponentPtr find_component_by_name(const_like_t<ComponentPtr, std::vector<Component>>& components,
                                                  std::string_view name) noexcept;

/// Sorts by z_ or s_ (NaN keys last, equal keys in unspecified order); other orders keep the
/// vector as it is.
template <typename ComponentPtr>
void sort_component_pointers(std::vector<ComponentPtr>& components, ComponentList::SortOrder sort_order);

template <typename ComponentPtr>
[[nodiscard]] std::vector<ComponentPtr> find_components_with_flag(const_like_t<ComponentPtr, ComponentList>& list,
                                                                  const std::string& flag_name,
                                                                  ComponentList::SortOrder sort_order);

template <typename ComponentPtr>
[[nodiscard]] std::vector<ComponentPtr> extract_beamline(const_like_t<ComponentPtr, ComponentList>& list,
                                                         const std::string& flag, double z_or_s_start,
                                                         double z_or_s_end, ComponentList::SortOrder sort_order);

template <typename ComponentPtr>
[[nodiscard]] std::vector<std::vector<ComponentPtr>>
extract_cells_around_components(const std::vector<ComponentPtr>& component_ptrs, const std::string& name_regex,
                                ComponentList::SortOrder sort_order, double meters_before, double meters_after);

} // namespace detail

} // namespace qix::sql
