#pragma once

#include <qix/sql/Component.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace qix::sql {

/// A text field of Component: its column in a facility's component view, the name listings
/// show it under, and the member that holds it.
struct ComponentTextField {
    std::string_view column;
    std::string_view name;
    std::string Component::*member;
};

/// A position of Component, described as the text fields are.
struct ComponentNumberField {
    std::string_view column;
    std::string_view name;
    double Component::*member;
};

/// Every field of Component but its flags, in the order a facility's view delivers them and a
/// list file holds them: the leading texts, the positions, then the link name (which the list
/// file writes after the flags line). The database load, the list file and the list comparison
/// follow these tables, so a field added here reaches all of them; code that must spell the
/// fields out itself checks its length against them.
namespace component_fields {

/// The texts before the positions.
inline constexpr std::array<ComponentTextField, 8> kLeadingTexts{{
    {"NAME", "name", &Component::name_},
    {"REAL_NAME", "real_name", &Component::real_name_},
    {"NAME2", "name2", &Component::name2_},
    {"SECTION", "section", &Component::section_},
    {"GROUP_", "group", &Component::group_},
    {"CLASS", "class", &Component::class_},
    {"TYPE_", "type", &Component::type_},
    {"FRIENDLY_NAME", "friendly_name", &Component::friendly_name_},
}};

inline constexpr std::array<ComponentNumberField, 4> kPositions{{
    {"X", "x", &Component::x_},
    {"Y", "y", &Component::y_},
    {"Z", "z", &Component::z_},
    {"S", "s", &Component::s_},
}};

inline constexpr ComponentTextField kLinkName{"LINK_NAME", "link_name", &Component::link_name_};

/// The view's column numbers (from 1): the leading texts, the positions, the link name, then
/// one column per flag.
inline constexpr int kFirstPositionColumn = static_cast<int>(kLeadingTexts.size()) + 1;
inline constexpr int kLinkNameColumn = kFirstPositionColumn + static_cast<int>(kPositions.size());
inline constexpr int kFirstFlagColumn = kLinkNameColumn + 1;
/// The view's columns before its flag columns.
inline constexpr std::size_t kColumnCount = kLeadingTexts.size() + kPositions.size() + 1;

/// Calls `visit` with each field (a ComponentTextField or ComponentNumberField) in the view's
/// column order.
template <class Visit>
constexpr void for_each_in_view_order(Visit&& visit)
{
    for (const ComponentTextField& field : kLeadingTexts)
        visit(field);
    for (const ComponentNumberField& field : kPositions)
        visit(field);
    visit(kLinkName);
}

/// Calls `visit` with each field, every text before the positions: the order listings show.
template <class Visit>
constexpr void for_each_texts_first(Visit&& visit)
{
    for (const ComponentTextField& field : kLeadingTexts)
        visit(field);
    visit(kLinkName);
    for (const ComponentNumberField& field : kPositions)
        visit(field);
}

/// The view's columns before the flag columns, in order.
inline constexpr std::array<std::string_view, kColumnCount> kColumns = [] {
    std::array<std::string_view, kColumnCount> columns{};
    std::size_t i = 0;
    for_each_in_view_order([&](const auto& field) { columns[i++] = field.column; });
    return columns;
}();

} // namespace component_fields

} // namespace qix::sql
