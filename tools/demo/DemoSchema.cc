// The demo configuration schema CFG: four types (crates, magnet power supplies, beam position
// monitors, RF cavities) whose fields use every data type code, one item per data row, and
// data views that are writable through INSTEAD OF triggers, as in the production schema.
#include "DemoData.h"

#include <qix/sql/ConfigurationInterface.h>
#include <qix/sql/Database.h>

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

namespace qix::tool::demo {

namespace {

constexpr std::array<const char*, 5> kPowerSupplyFamilies{"QF", "QD", "SF", "SD", "BEND"};

struct FieldDef {
    int id;
    const char* name;
    char code;
    const char* description;
    const char* unit;
    int ref_type; // 0: none
    bool name_field;
    bool hidden;
    bool allow_null;
};

struct TypeDef {
    int id;
    const char* name;
    const char* description;
    const char* facility;
    const char* category;
    const char* group;
    std::vector<FieldDef> fields;
};

constexpr int kCrateType = 10;

const std::vector<TypeDef>& types()
{
    // One type per block, its fields below it.
    // clang-format off
    static const std::vector<TypeDef> all{
        {kCrateType, "CRATE", "VME crate of the control system", nullptr, "HARDWARE", "CONTROLS",
         {{101, "NAME", 'C', "Crate name", nullptr, 0, true, false, false},
          {102, "LOCATION", 'C', "Rack position", nullptr, 0, false, false, false},
          {103, "SLOTS", 'I', "Number of slots", nullptr, 0, false, false, false},
          {104, "COMMISSIONED", 'T', "Date of commissioning", nullptr, 0, false, false, true},
          {105, "NOTES", 'B', "Free text notes", nullptr, 0, false, true, true}}},
        {20, "MAGNET_PS", "Power supply of a magnet family in one section", "LUMEN", "MAGNETS", "POWER",
         {{201, "SECTION", 'C', "Section of the machine", nullptr, 0, true, false, false},
          {202, "FAMILY", 'C', "Magnet family", nullptr, 0, true, false, false},
          {203, "CRATE", 'R', "Crate of the controller", nullptr, kCrateType, false, false, false},
          {204, "CURRENT_A", 'F', "Set current", "A", 0, false, false, false},
          {205, "MAX_CURRENT_A", 'F', "Current limit", "A", 0, false, false, false},
          {206, "POLARITY", 'I', "Polarity (+1 or -1)", nullptr, 0, false, false, false},
          {207, "LAST_CALIBRATION", 'T', "Last calibration", nullptr, 0, false, false, true},
          {208, "SETTINGS", 'B', "Controller settings", nullptr, 0, false, true, true}}},
        {30, "BPM", "Beam position monitor electronics", "LUMEN", "DIAGNOSTICS", "INSTRUMENTATION",
         {{301, "SECTION", 'C', "Section of the machine", nullptr, 0, true, false, false},
          {302, "CELL", 'I', "Cell within the section", nullptr, 0, true, false, false},
          {303, "CRATE", 'R', "Crate of the electronics", nullptr, kCrateType, false, false, false},
          {304, "GAIN_DB", 'F', "Amplifier gain", "dB", 0, false, false, false},
          {305, "OFFSET_X", 'F', "Horizontal offset", "mm", 0, false, false, false},
          {306, "OFFSET_Y", 'F', "Vertical offset", "mm", 0, false, false, false},
          {307, "INSTALLED", 'T', "Date of installation", nullptr, 0, false, false, true},
          {308, "FIRMWARE", 'C', "Firmware version", nullptr, 0, false, false, true},
          {309, "CALIBRATION", 'B', "Calibration table", nullptr, 0, false, true, true}}},
        {40, "RF_CAVITY", "Accelerating cavity", "LUMEN", "RF", "RF",
         {{401, "NAME", 'C', "Cavity name", nullptr, 0, true, false, false},
          {402, "FREQUENCY_MHZ", 'F', "Resonance frequency", "MHz", 0, false, false, false},
          {403, "VOLTAGE_KV", 'F', "Gap voltage", "kV", 0, false, false, false},
          {404, "PHASE_DEG", 'F', "Phase", "deg", 0, false, false, false},
          {405, "TUNER_STEPS", 'I', "Tuner position", "steps", 0, false, false, false},
          {406, "CONDITIONED", 'T', "Last conditioning", nullptr, 0, false, false, true},
          {407, "NOTES", 'B', "Free text notes", nullptr, 0, false, true, true}}},
    };
    // clang-format on
    return all;
}

// One item with its data row (values in the order of the type's fields).
struct Item {
    int id;
    std::string name;
    std::optional<std::string> description;
    std::string facility;
    std::optional<std::string> last_seen;
    std::optional<std::string> last_modified;
    std::vector<SqlValue> values;
};

// A small deterministic generator: the demo data are the same on every run.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed) {}
    // A number in [low, high] with `decimals` decimals (the nearest double to that decimal).
    double uniform(double low, double high, int decimals)
    {
        state_ = state_ * 1664525u + 1013904223u;
        const double scale = std::pow(10.0, decimals);
        return std::round((low + (high - low) * (state_ >> 8) / double(1u << 24)) * scale) / scale + 0.0; // no -0
    }
    int below(int n) { return static_cast<int>(uniform(0, n - 1, 0)); }
    // Timestamp text within `days` days after 1 January of `year` (2023 to 2025).
    std::string time(int year, int days)
    {
        constexpr std::int64_t kStart2023 = 1672531200;
        const std::int64_t seconds = kStart2023 + (year - 2023) * 365 * 86400 + below(days) * 86400 + below(86400);
        const std::int64_t micros = below(1000000);
        return qix::sql::ConfigurationInterface::convert_time_to_string(
            qix::sql::time_point(std::chrono::microseconds(seconds * 1000000 + micros)));
    }

private:
    std::uint32_t state_;
};

SqlValue text_or_null(bool present, std::string text) { return present ? SqlValue(std::move(text)) : SqlValue(); }

std::vector<Item> crates()
{
    Random random(10);
    std::vector<Item> items;
    for (int s = 1; s <= kSections + 2; ++s) {
        const bool simulated = s > kSections;
        const std::string name = simulated ? fmt::format("CR.SIM{}", s - kSections) : "CR." + section_name(s);
        const std::string location = simulated ? fmt::format("Simulation server room, rack {}", s - kSections)
                                               : fmt::format("Tunnel {}, rack {}", section_name(s), 1 + s % 3);
        items.push_back({1000 + s,
                         name,
                         std::nullopt,
                         simulated ? "LUMEN_SIM" : "LUMEN",
                         random.time(2025, 150),
                         random.time(2024, 300),
                         {name, location, s % 4 == 0 ? 12 : 21, random.time(2023, 200),
                          text_or_null(s % 5 == 0, "Slot 14 reserved for the new timing receiver")}});
    }
    return items;
}

// Public id of the power supply of family kPowerSupplyFamilies[family] in section `section`
// (1 to kSections): 2001 onwards, section by section.
int power_supply_id(int section, std::size_t family)
{
    return 2000 + (section - 1) * static_cast<int>(kPowerSupplyFamilies.size()) + static_cast<int>(family) + 1;
}

std::vector<Item> power_supplies()
{
    constexpr std::array<double, 5> kCurrent{121.0, 117.0, 38.0, 44.0, 382.0};
    constexpr std::array<double, 5> kLimit{200.0, 200.0, 80.0, 80.0, 500.0};
    Random random(20);
    std::vector<Item> items;
    for (int s = 1; s <= kSections; ++s)
        for (std::size_t f = 0; f < kPowerSupplyFamilies.size(); ++f) {
            const std::string family = kPowerSupplyFamilies[f];
            items.push_back(
                {power_supply_id(s, f),
                 section_name(s) + "/" + family,
                 fmt::format("Power supply of the {} magnets of section {}", family, section_name(s)),
                 "LUMEN",
                 random.time(2025, 150),
                 random.time(2024, 300),
                 {section_name(s), family, 1000 + s, random.uniform(kCurrent[f] - 4, kCurrent[f] + 4, 2), kLimit[f],
                  f % 2 == 0 ? 1 : -1, random.time(2024, 360), text_or_null(f == 4, "ramp_rate=2.0 A/s; filter=on")}});
        }
    return items;
}

std::vector<Item> monitors()
{
    Random random(30);
    std::vector<Item> items;
    for (int s = 1; s <= kSections; ++s)
        for (int cell = 1; cell <= kCellsPerSection; ++cell) {
            const bool seen = (s + cell) % 11 != 0;
            items.push_back(
                {3000 + (s - 1) * kCellsPerSection + cell,
                 fmt::format("{}/{}", section_name(s), cell),
                 std::nullopt,
                 "LUMEN",
                 seen ? std::optional(random.time(2025, 150)) : std::nullopt,
                 random.time(2024, 300),
                 {section_name(s), cell, 1000 + s, random.uniform(18.5, 21.5, 2), random.uniform(-0.4, 0.4, 3),
                  random.uniform(-0.4, 0.4, 3), random.time(2023, 300), s < 20 ? "3.2.1" : "3.3.0",
                  text_or_null(cell == 1, fmt::format("kx={:.2f};ky={:.2f}", random.uniform(9.8, 10.4, 2),
                                                      random.uniform(9.8, 10.4, 2)))}});
        }
    return items;
}

std::vector<Item> cavities()
{
    Random random(40);
    std::vector<Item> items;
    int id = 4001;
    for (int s : kRfSections)
        for (int cell = kFirstRfCell; cell <= kLastRfCell; ++cell) {
            const std::string name = fmt::format("CAV.{}.{}", section_name(s), cell);
            items.push_back(
                {id++,
                 name,
                 "Normal-conducting 500 MHz cavity",
                 "LUMEN",
                 random.time(2025, 150),
                 random.time(2024, 300),
                 {name, 499.654, random.uniform(575, 625, 1), random.uniform(-10, 10, 1), random.below(4000) - 2000,
                  random.time(2024, 300), text_or_null(cell == 4, "Window temperature watched since March")}});
        }
    return items;
}

const char* sql_type(char code)
{
    switch (code) {
    case 'I':
    case 'R': return "NUMBER(10)";
    case 'F': return "BINARY_DOUBLE";
    case 'T': return "TIMESTAMP(6)";
    case 'B': return "CLOB";
    default: return "VARCHAR2(200)";
    }
}

std::vector<std::string> schema_statements()
{
    return {
        "CREATE TABLE CFG.CM_TYPES (TYPE_ID NUMBER(10) PRIMARY KEY, TYPE_NAME VARCHAR2(30) NOT NULL UNIQUE, "
        "TYPE_DESCR VARCHAR2(200), TYPE_FACILITY VARCHAR2(30), TYPE_CATEGORY VARCHAR2(30), KELVA_GROUP VARCHAR2(30))",
        "CREATE VIEW CFG.CM_VIEW_TYPES AS SELECT TYPE_ID, TYPE_NAME, TYPE_DESCR, TYPE_FACILITY, TYPE_CATEGORY, "
        "KELVA_GROUP FROM CM_TYPES",
        "CREATE TABLE CFG.CM_FIELDS (FIELD_ID NUMBER(10) PRIMARY KEY, TYPE_ID NUMBER(10) NOT NULL, "
        "FIELD_NAME VARCHAR2(30) NOT NULL, FIELD_DESCR VARCHAR2(200), DATA_TYPE CHAR(1), REF_TYPE_ID NUMBER(10), "
        "UNIT_NAME VARCHAR2(20), HIDDEN_FLAG NUMBER(1), NAME_FLAG NUMBER(1), FACILITY_FLAG NUMBER(1), "
        "ALLOW_NULL_FLAG NUMBER(1))",
        "CREATE VIEW CFG.CM_MVIEW_FIELDS AS SELECT F.TYPE_ID, T.TYPE_NAME, F.FIELD_ID, F.FIELD_NAME, F.FIELD_DESCR, "
        "F.DATA_TYPE, F.REF_TYPE_ID, R.TYPE_NAME AS REF_TYPE_NAME, F.UNIT_NAME, F.HIDDEN_FLAG, F.NAME_FLAG, "
        "F.FACILITY_FLAG, F.ALLOW_NULL_FLAG FROM CM_FIELDS F JOIN CM_TYPES T ON T.TYPE_ID = F.TYPE_ID "
        "LEFT JOIN CM_TYPES R ON R.TYPE_ID = F.REF_TYPE_ID",
        "CREATE TABLE CFG.CM_ITEMS (PUBLIC_ID INTEGER PRIMARY KEY, TYPE_ID NUMBER(10) NOT NULL, "
        "ITEM_NAME VARCHAR2(100) NOT NULL, ITEM_DESCR VARCHAR2(200), ITEM_FACILITY VARCHAR2(30), "
        "LAST_SEEN TIMESTAMP(6), LAST_MODIFIED TIMESTAMP(6))",
        "CREATE VIEW CFG.CM_VIEW_ITEMS AS SELECT I.TYPE_ID, T.TYPE_NAME, I.PUBLIC_ID, I.ITEM_NAME, I.ITEM_DESCR, "
        "I.ITEM_FACILITY, I.LAST_SEEN, I.LAST_MODIFIED FROM CM_ITEMS I JOIN CM_TYPES T ON T.TYPE_ID = I.TYPE_ID",
    };
}

// The data table of a type, its view, and the triggers that make the view writable: an insert
// creates the item (named from the name fields), an update stamps LAST_MODIFIED, a delete
// removes the item with its last row.
std::vector<std::string> data_statements(const TypeDef& type)
{
    std::vector<std::string> columns, declarations, new_values, assignments, name_parts;
    for (const auto& f : type.fields) {
        columns.emplace_back(f.name);
        declarations.push_back(fmt::format("{} {}", f.name, sql_type(f.code)));
        new_values.push_back(fmt::format("NEW.{}", f.name));
        assignments.push_back(fmt::format("{0} = NEW.{0}", f.name));
        if (f.name_field)
            name_parts.push_back(fmt::format("COALESCE(NEW.{}, '')", f.name));
    }
    const std::string table = fmt::format("CM_DATA_{}", type.name);
    const std::string view = fmt::format("CM_VIEW_DATA_{}", type.name);
    const std::string now = "strftime('%Y-%m-%d %H:%M:%f', 'now')";
    return {
        fmt::format("CREATE TABLE CFG.{} (PUBLIC_ID NUMBER(10) NOT NULL, VERSION_ID NUMBER(10) DEFAULT 1 NOT NULL, {}, "
                    "PRIMARY KEY (PUBLIC_ID, VERSION_ID))",
                    table, fmt::join(declarations, ", ")),
        fmt::format("CREATE VIEW CFG.{} AS SELECT PUBLIC_ID, VERSION_ID, {} FROM {}", view, fmt::join(columns, ", "),
                    table),
        fmt::format("CREATE TRIGGER CFG.{0}_INSERT INSTEAD OF INSERT ON {1} BEGIN "
                    "INSERT INTO CM_ITEMS (TYPE_ID, ITEM_NAME, ITEM_FACILITY, LAST_MODIFIED) VALUES ({2}, {3}, "
                    "(SELECT COALESCE(TYPE_FACILITY, 'LUMEN') FROM CM_TYPES WHERE TYPE_ID = {2}), {4}); "
                    "INSERT INTO {0} (PUBLIC_ID, VERSION_ID, {5}) VALUES (last_insert_rowid(), 1, {6}); END",
                    table, view, type.id, fmt::join(name_parts, " || '/' || "), now, fmt::join(columns, ", "),
                    fmt::join(new_values, ", ")),
        fmt::format("CREATE TRIGGER CFG.{0}_UPDATE INSTEAD OF UPDATE ON {1} BEGIN UPDATE {0} SET {2} "
                    "WHERE PUBLIC_ID = OLD.PUBLIC_ID AND VERSION_ID = OLD.VERSION_ID; "
                    "UPDATE CM_ITEMS SET LAST_MODIFIED = {3} WHERE PUBLIC_ID = OLD.PUBLIC_ID; END",
                    table, view, fmt::join(assignments, ", "), now),
        fmt::format("CREATE TRIGGER CFG.{0}_DELETE INSTEAD OF DELETE ON {1} BEGIN DELETE FROM {0} "
                    "WHERE PUBLIC_ID = OLD.PUBLIC_ID AND VERSION_ID = OLD.VERSION_ID; DELETE FROM CM_ITEMS "
                    "WHERE PUBLIC_ID = OLD.PUBLIC_ID AND NOT EXISTS "
                    "(SELECT 1 FROM {0} WHERE PUBLIC_ID = OLD.PUBLIC_ID); END",
                    table, view),
    };
}

SqlValue optional_text(const char* text) { return text != nullptr ? SqlValue(std::string(text)) : SqlValue(); }

void write_type(qix::sql::Database& db, const TypeDef& type, const std::vector<Item>& items)
{
    run_statements(db, data_statements(type));
    insert_rows(db, "CFG.CM_TYPES",
                {"TYPE_ID", "TYPE_NAME", "TYPE_DESCR", "TYPE_FACILITY", "TYPE_CATEGORY", "KELVA_GROUP"},
                {{type.id, type.name, type.description, optional_text(type.facility), type.category, type.group}});
    std::vector<std::vector<SqlValue>> fields;
    for (const auto& f : type.fields)
        fields.push_back({f.id, type.id, f.name, f.description, std::string(1, f.code),
                          f.ref_type != 0 ? SqlValue(f.ref_type) : SqlValue(), optional_text(f.unit), int{f.hidden},
                          int{f.name_field}, 0, int{f.allow_null}});
    insert_rows(db, "CFG.CM_FIELDS",
                {"FIELD_ID", "TYPE_ID", "FIELD_NAME", "FIELD_DESCR", "DATA_TYPE", "REF_TYPE_ID", "UNIT_NAME",
                 "HIDDEN_FLAG", "NAME_FLAG", "FACILITY_FLAG", "ALLOW_NULL_FLAG"},
                fields);
    std::vector<std::vector<SqlValue>> item_rows, data_rows;
    std::vector<std::string> data_columns{"PUBLIC_ID", "VERSION_ID"};
    for (const auto& f : type.fields)
        data_columns.emplace_back(f.name);
    for (const auto& item : items) {
        auto optional = [](const std::optional<std::string>& text) { return text ? SqlValue(*text) : SqlValue(); };
        item_rows.push_back({item.id, type.id, item.name, optional(item.description), item.facility,
                             optional(item.last_seen), optional(item.last_modified)});
        auto& row = data_rows.emplace_back(std::vector<SqlValue>{item.id, 1});
        row.insert(row.end(), item.values.begin(), item.values.end());
    }
    insert_rows(db, "CFG.CM_ITEMS",
                {"PUBLIC_ID", "TYPE_ID", "ITEM_NAME", "ITEM_DESCR", "ITEM_FACILITY", "LAST_SEEN", "LAST_MODIFIED"},
                item_rows);
    insert_rows(db, "CFG.CM_DATA_" + std::string(type.name), data_columns, data_rows);
}

} // namespace

std::size_t write_configuration(qix::sql::Database& db)
{
    // Timestamps cross the connection as timestamp text, as the configuration interface sets it.
    run_statements(db, {"ALTER SESSION SET NLS_TIMESTAMP_FORMAT = 'YYYY-MM-DD HH24:MI:SS.FF'"});
    run_statements(db, schema_statements());
    const std::vector<Item> items[] = {crates(), power_supplies(), monitors(), cavities()};
    std::size_t count = 0;
    for (std::size_t t = 0; t < types().size(); ++t) {
        write_type(db, types()[t], items[t]);
        count += items[t].size();
    }
    return count;
}

} // namespace qix::tool::demo
