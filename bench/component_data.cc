#include "component_data.h"

#include <qix/sql/ComponentFields.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace qix::bench {

// make_component_list sets each of the 13 fields: a field added to the component record needs
// its made-up values there too.
static_assert(qix::sql::component_fields::kColumnCount == 13);

qix::sql::ComponentList make_component_list(std::size_t n)
{
    qix::sql::ComponentList list;
    list.flag_names_.assign(std::begin(kFlagNames), std::end(kFlagNames));
    std::mt19937_64 random(n);
    std::uniform_real_distribution<double> jitter(0.0, 0.4 * kSpacing);
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), random);
    list.components_.reserve(n);
    for (const std::size_t k : order) {
        const bool monitor = k % 100 == 0;
        const std::string number = std::to_string(k);
        qix::sql::Component& c = list.components_.emplace_back();
        c.name_ = (monitor ? "BPM." : "QF.") + number;
        c.real_name_ = "LUMEN.RING." + c.name_ + ".REAL";
        c.name2_ = k % 3 == 0 ? std::string() : "N2_" + number;
        c.section_ = "S" + std::to_string(k % 40);
        c.group_ = "GROUP_" + std::to_string(k % 7);
        c.class_ = monitor ? "BPM" : "QUAD";
        c.type_ = "TYPE-" + std::to_string(k % 12);
        c.friendly_name_ = "Quadrupole focusing magnet " + number;
        c.link_name_ = k % 5 == 0 ? "LINK_" + number : std::string();
        c.s_ = static_cast<double>(k) * kSpacing + jitter(random);
        c.z_ = c.s_ * 0.98;
        c.x_ = 0.01 * std::sin(c.s_);
        c.y_ = 0.002 * std::cos(c.s_);
        const auto bits = random();
        c.flags_.resize(list.flag_names_.size());
        for (std::size_t i = 0; i < c.flags_.size(); ++i)
            c.flags_[i] = ((bits >> i) & 1U) != 0;
    }
    return list;
}

} // namespace qix::bench
