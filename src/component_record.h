#pragma once

// The fields of a component record in the order the facility's view delivers them and the list
// file holds them. The load's statement and buffers, the list file's reader and writer and the
// list comparison all follow these tables, so that a field is added in one place.

#include <qix/sql/Component.h>

#include <array>
#include <string>
#include <string_view>

namespace qix::sql::detail {

struct ComponentText {
    std::string_view column;
    std::string Component::*member;
};

struct ComponentNumber {
    std::string_view column;
    double Component::*member;
};

/// The texts before the positions.
inline constexpr std::array<ComponentText, 8> kLeadingTexts{{
    {"NAME", &Component::name_},
    {"REAL_NAME", &Component::real_name_},
    {"NAME2", &Component::name2_},
    {"SECTION", &Component::section_},
    {"GROUP_", &Component::group_},
    {"CLASS", &Component::class_},
    {"TYPE_", &Component::type_},
    {"FRIENDLY_NAME", &Component::friendly_name_},
}};

/// The positions.
inline constexpr std::array<ComponentNumber, 4> kPositions{{
    {"X", &Component::x_},
    {"Y", &Component::y_},
    {"Z", &Component::z_},
    {"S", &Component::s_},
}};

/// The text after the positions; in the list file it follows the flags line.
inline constexpr ComponentText kLinkName{"LINK_NAME", &Component::link_name_};

/// The view's column numbers: the leading texts from 1, then the positions, the link name and
/// one column per flag.
inline constexpr int kFirstPositionColumn = static_cast<int>(kLeadingTexts.size()) + 1;
inline constexpr int kLinkNameColumn = kFirstPositionColumn + static_cast<int>(kPositions.size());
inline constexpr int kFirstFlagColumn = kLinkNameColumn + 1;

} // namespace qix::sql::detail
