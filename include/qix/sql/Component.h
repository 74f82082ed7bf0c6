#pragma once

#include <string>
#include <vector>

namespace qix::sql {

/// One machine component (magnet, monitor, cavity, ...) of a facility's component list: its
/// names and classification as opaque byte strings, its positions and one bit per flag of
/// the owning ComponentList (`flags_[i]` belongs to `flag_names_[i]`). A plain record: the
/// loaders fill it, the queries hand out pointers to it.
struct Component {
    std::string name_;
    std::string real_name_;
    std::string name2_;
    std::string section_;
    std::string group_;
    std::string class_;
    std::string type_;
    std::string friendly_name_;
    std::string link_name_;
    double x_ = 0.0;
    double y_ = 0.0;
    /// Position along z in metres; the key of SortOrder::z.
    double z_ = 0.0;
    /// Position along the beamline in metres; the key of SortOrder::s.
    double s_ = 0.0;
    std::vector<bool> flags_;
};

} // namespace qix::sql
