// The demo facility LUMEN: 30 sections of 20 m along a gentle arc (600 m of beamline), each
// with eight 2.5 m cells of quadrupoles, bending magnets, sextupoles, correctors, a beam
// position monitor and an ion pump, plus a valve, a gauge and a screen per section; sections
// S15 and S30 carry the RF cavities.
#include "DemoData.h"

#include <qix/sql/ComponentFields.h>
#include <qix/sql/Database.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>

namespace qix::tool::demo {

namespace {

using qix::sql::Component;
namespace fields = qix::sql::component_fields;

constexpr double kSectionLength = 20.0;
constexpr double kCellLength = 2.5;
constexpr double kArcRadius = 500.0;
constexpr double kBeamHeight = 1.4;

enum Flag { quad, dipole, sextupole, corrector, bpm, cavity, vacuum, active, flag_count };
constexpr const char* kFlagNames[] = {"QUAD", "DIPOLE", "SEXTUPOLE", "CORRECTOR", "BPM", "CAVITY", "VACUUM", "ACTIVE"};

struct Family {
    const char* prefix;
    const char* class_name;
    const char* type;
    double offset; // metres from the start of the cell or section
    Flag flag;
    const char* description;
    const char* power_supply; // family of the power supply item, or nullptr
};

constexpr Family kCellFamilies[] = {
    {"QF", "QUAD", "QF", 0.25, quad, "Focusing quadrupole", "QF"},
    {"BPM", "MONITOR", "BPM_BUTTON", 0.55, bpm, "Beam position monitor", nullptr},
    {"CH", "CORRECTOR", "HCOR", 0.80, corrector, "Horizontal corrector", nullptr},
    {"BA", "DIPOLE", "SBEND", 1.05, dipole, "Bending magnet A", "BEND"},
    {"SF", "SEXTUPOLE", "SF", 1.40, sextupole, "Focusing sextupole", "SF"},
    {"QD", "QUAD", "QD", 1.60, quad, "Defocusing quadrupole", "QD"},
    {"CV", "CORRECTOR", "VCOR", 1.85, corrector, "Vertical corrector", nullptr},
    {"BB", "DIPOLE", "SBEND", 2.05, dipole, "Bending magnet B", "BEND"},
    {"SD", "SEXTUPOLE", "SD", 2.30, sextupole, "Defocusing sextupole", "SD"},
    {"VP", "VACUUM", "ION_PUMP", 2.45, vacuum, "Ion pump", nullptr},
};
constexpr Family kCavity = {"CAV", "CAVITY", "RF_500MHZ", 1.05, cavity, "Accelerating cavity", nullptr};
constexpr Family kSectionFamilies[] = {
    {"VV", "VACUUM", "GATE_VALVE", 0.05, vacuum, "Gate valve", nullptr},
    {"SCR", "DIAGNOSTIC", "SCREEN", 0.12, active, "Fluorescent screen", nullptr},
    {"VG", "VACUUM", "GAUGE", 10.05, vacuum, "Vacuum gauge", nullptr},
};

double millimetres(double metres) { return std::round(metres * 1000.0) / 1000.0; }

bool is_rf_cell(int section, int cell)
{
    for (int rf : kRfSections)
        if (section == rf && cell >= kFirstRfCell && cell <= kLastRfCell)
            return true;
    return false;
}

// About one element in forty is switched off, the same ones on every run.
bool is_active(int section, int cell, int family) { return (section * 7 + cell * 3 + family * 5) % 41 != 0; }

std::string link_name(const Family& family, const std::string& section, int cell, const std::string& name)
{
    if (family.power_supply != nullptr)
        return section + "/" + family.power_supply;
    if (family.flag == bpm)
        return fmt::format("{}/{}", section, cell);
    return family.flag == cavity ? name : std::string();
}

// `cell` is 0 for the elements that belong to the section as a whole.
Component make_component(const Family& family, int section, int cell, bool on)
{
    const std::string sec = section_name(section);
    const double start = (section - 1) * kSectionLength + (cell == 0 ? 0.0 : (cell - 1) * kCellLength);
    const double s = millimetres(start + family.offset);
    Component c;
    c.name_ = cell == 0 ? fmt::format("{}.{}", family.prefix, sec) : fmt::format("{}.{}.{}", family.prefix, sec, cell);
    c.real_name_ = fmt::format("{}{:02d}{:02d}", family.prefix, section, cell);
    c.name2_ = cell == 0 ? fmt::format("LUMEN:{}:{}", sec, family.prefix)
                         : fmt::format("LUMEN:{}:C{}:{}", sec, cell, family.prefix);
    c.section_ = sec;
    c.group_ = cell == 0 ? sec : fmt::format("{}.C{}", sec, cell);
    c.class_ = family.class_name;
    c.type_ = family.type;
    c.friendly_name_ = cell == 0 ? fmt::format("{} of section {}", family.description, sec)
                                 : fmt::format("{} {} of section {}", family.description, cell, sec);
    c.link_name_ = link_name(family, sec, cell, c.name_);
    c.x_ = millimetres(kArcRadius * (1.0 - std::cos(s / kArcRadius)));
    c.y_ = family.flag == vacuum ? 1.1 : kBeamHeight;
    c.z_ = millimetres(kArcRadius * std::sin(s / kArcRadius));
    c.s_ = s;
    c.flags_.assign(flag_count, false);
    if (family.flag != active)
        c.flags_[family.flag] = true;
    c.flags_[active] = on;
    return c;
}

std::vector<SqlValue> component_row(const std::string& facility, const Component& c)
{
    std::vector<SqlValue> row{facility};
    fields::for_each_in_view_order([&](const auto& field) { row.emplace_back(c.*field.member); });
    for (bool flag : c.flags_)
        row.emplace_back(flag ? 1 : 0);
    return row;
}

// The Oracle type of each view column in the component table, in the view's order: a field
// added to the component record stops the build here until it has its type.
constexpr std::array<std::pair<std::string_view, std::string_view>, fields::kColumnCount> kColumnTypes{{
    {"NAME", "VARCHAR2(40) NOT NULL"},
    {"REAL_NAME", "VARCHAR2(40)"},
    {"NAME2", "VARCHAR2(60)"},
    {"SECTION", "VARCHAR2(10)"},
    {"GROUP_", "VARCHAR2(20)"},
    {"CLASS", "VARCHAR2(20)"},
    {"TYPE_", "VARCHAR2(20)"},
    {"FRIENDLY_NAME", "VARCHAR2(100)"},
    {"X", "BINARY_DOUBLE"},
    {"Y", "BINARY_DOUBLE"},
    {"Z", "BINARY_DOUBLE"},
    {"S", "BINARY_DOUBLE"},
    {"LINK_NAME", "VARCHAR2(40)"},
}};
static_assert(std::equal(kColumnTypes.begin(), kColumnTypes.end(), fields::kColumns.begin(),
                         [](const auto& typed, std::string_view column) { return typed.first == column; }),
              "kColumnTypes names the view's columns in their order");

std::string view_statement(const std::string& facility, bool with_vacuum)
{
    std::string flags;
    for (int f = 0; f < flag_count; ++f)
        if (with_vacuum || f != vacuum)
            flags += fmt::format(", FLAG_{}", kFlagNames[f]);
    return fmt::format("CREATE VIEW VEDUV.{0}_VIEW_COMPONENTS AS SELECT {1}{2} FROM COMPONENTS "
                       "WHERE FACILITY = '{0}' ORDER BY SEQ",
                       facility, fmt::join(fields::kColumns, ", "), flags);
}

// The components of LUMEN (with vacuum equipment and some elements switched off) or of its
// simulator LUMEN_SIM (no vacuum equipment, everything on), family by family as a database
// filled that way delivers them.
std::vector<Component> make_lattice(bool simulator)
{
    std::vector<Component> components;
    for (int f = 0; f < static_cast<int>(std::size(kCellFamilies)); ++f)
        for (int section = 1; section <= kSections; ++section)
            for (int cell = 1; cell <= kCellsPerSection; ++cell) {
                const Family& family = kCellFamilies[f];
                const bool bend = family.flag == dipole;
                if ((simulator && family.flag == vacuum) || (bend && is_rf_cell(section, cell)))
                    continue;
                components.push_back(make_component(family, section, cell, simulator || is_active(section, cell, f)));
            }
    for (int section : kRfSections)
        for (int cell = kFirstRfCell; cell <= kLastRfCell; ++cell)
            components.push_back(make_component(kCavity, section, cell, true));
    for (const Family& family : kSectionFamilies)
        for (int section = 1; section <= kSections; ++section)
            if (!simulator || family.flag != vacuum)
                components.push_back(make_component(family, section, 0, true));
    return components;
}

} // namespace

void write_components(qix::sql::Database& db, Summary& summary)
{
    std::vector<std::string> columns{"FACILITY"};
    columns.insert(columns.end(), fields::kColumns.begin(), fields::kColumns.end());
    std::string table = "CREATE TABLE VEDUV.COMPONENTS (SEQ INTEGER PRIMARY KEY, FACILITY VARCHAR2(30) NOT NULL";
    for (const auto& [column, type] : kColumnTypes)
        table += fmt::format(", {} {}", column, type);
    for (const char* flag : kFlagNames) {
        columns.push_back(fmt::format("FLAG_{}", flag));
        table += fmt::format(", FLAG_{} NUMBER(1) DEFAULT 0 NOT NULL", flag);
    }
    table += ")";
    run_statements(db, {table, view_statement("LUMEN", true), view_statement("LUMEN_SIM", false)});
    for (bool simulator : {false, true}) {
        std::vector<std::vector<SqlValue>> rows;
        for (const auto& component : make_lattice(simulator))
            rows.push_back(component_row(simulator ? "LUMEN_SIM" : "LUMEN", component));
        insert_rows(db, "VEDUV.COMPONENTS", columns, rows);
        (simulator ? summary.simulator_components : summary.components) = rows.size();
    }
}

} // namespace qix::tool::demo
