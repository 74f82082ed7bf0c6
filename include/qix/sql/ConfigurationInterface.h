#pragma once

#include <qix/sql/ConfigurationTypes.h>
#include <qix/util/export.h>

#include <cstdint>
#include <string>
#include <utility>

namespace qix::sql {

class Database;

namespace detail {

/// Throws qix::Error "Invalid field name" unless `field_name` is a non-empty run of ASCII
/// capitals, digits and '_' starting with a capital. Guards every type and field name that
/// goes into a statement text. The pattern is compiled once, on first use.
QIX_SQL_API void validate_field_name(const std::string& field_name);

} // namespace detail

/// Access to a configuration-management schema: its types, their fields and items, and the
/// data rows of each type (read, inserted, updated, deleted through the view
/// <schema>.CM_VIEW_DATA_<type>). Time values cross the connection as text in the format
/// "YYYY-MM-DD HH24:MI:SS.FF", which the constructor sets for the session. Holds a reference
/// to the Database, which must outlive the interface; keeps no other state.
class QIX_SQL_API ConfigurationInterface {
public:
    /// The rows read and the field map that describes their values.
    using DataResult = std::pair<ConfigurationDataList, ConfigurationFieldMap>;

    /// Binds the interface to `db` and `schema_name` and sets the session's timestamp format
    /// (connecting `db` first if needed). Throws qix::Error "Schema name cannot be empty.",
    /// "Invalid schema name: <name>" unless the name is a letter followed by letters, digits,
    /// '_', '$' or '#' (checked before any statement), or the error of the ALTER SESSION.
    ConfigurationInterface(Database& db, const std::string& schema_name);

    /// The schema that holds the configuration views.
    [[nodiscard]] const std::string& get_schema_name() const noexcept { return schema_name_; }

    /// Parses timestamp text "YYYY-MM-DD HH:MM:SS" with an optional "." and fraction of a
    /// second (up to nine digits count, later ones are dropped), as UTC. Text after that is
    /// ignored. Throws std::runtime_error "Failed to parse time string" when the text does
    /// not match or lies outside the range of time_point (years 1678 to 2261).
    [[nodiscard]] static time_point convert_string_to_time(const std::string& ts);

    /// Formats `tp` as UTC timestamp text with six fraction digits, e.g.
    /// "2024-03-05 14:07:09.123456"; nanoseconds below the microsecond are dropped (rounded
    /// towards the past, also before 1970). Never throws except for memory exhaustion.
    [[nodiscard]] static std::string convert_time_to_string(const time_point& tp);

    /// All types of the schema keyed by name (one statement on CM_VIEW_TYPES). Throws
    /// qix::Error "Duplicate type name found: <name>" or the error of the query layer.
    [[nodiscard]] ConfigurationTypeMap read_types();

    /// All fields of `type_name` keyed by field name (CM_MVIEW_FIELDS); empty for an unknown
    /// type. Throws qix::Error "Type name cannot be empty.", "Invalid field name",
    /// "Duplicate field name found: <name>" or the error of the query layer.
    [[nodiscard]] ConfigurationFieldMap read_fields(const std::string& type_name);

    /// The items of `type_name` in delivery order, only those of `item_facility` when it is
    /// not empty (CM_VIEW_ITEMS). Throws qix::Error "Type name cannot be empty.", "Invalid
    /// field name", the query layer's errors, or std::runtime_error for a bad timestamp.
    [[nodiscard]] ConfigurationItemList read_items(const std::string& type_name, const std::string& item_facility);

    /// The first item of `type_name` named `item_name`, or a default item (`id_` -1). Throws
    /// qix::Error "Type name cannot be empty.", "Item name cannot be empty.", "Invalid field
    /// name", the query layer's errors, or std::runtime_error for a bad timestamp.
    [[nodiscard]] ConfigurationItem read_item(const std::string& type_name, const std::string& item_name);

    /// The first item of `type_name` with public id `public_id`, or a default item; a
    /// negative id returns a default item without any statement. Throws like the read by name.
    [[nodiscard]] ConfigurationItem read_item(const std::string& type_name, int public_id);

    /// The rows of the type's data view that satisfy `filter` (an SQL condition placed in the
    /// statement verbatim, with `?` placeholders bound to `filter_params` in order; an empty
    /// filter selects every row and binds nothing), each column converted by its field's
    /// data type code, together with the field map. Costs two statements. Throws qix::Error
    /// "Type name cannot be empty.", "Invalid field name" (for the type name, and for any
    /// field name of the fields view, checked before the data statement is built), "Type X
    /// has no fields in schema S" (nothing sent), "Data type not implemented" (raised while
    /// the first row is read), the query layer's errors (also a driver error while fetching),
    /// or std::runtime_error "Failed to parse time string "T" of field F of type X, public
    /// id N" for a stored timestamp that cannot be parsed (T cut after 200 bytes).
    [[nodiscard]] DataResult read_data(const std::string& type_name, const std::string& filter,
                                       const ConfigurationDataValueList& filter_params);

    /// The rows whose columns equal every value of `filter_values` (all rows for an empty
    /// map). The names are checked first ("Invalid field name"), then as the general form.
    [[nodiscard]] DataResult read_data(const std::string& type_name, const ConfigurationDataValueMap& filter_values);

    /// The rows with PUBLIC_ID `public_id` and VERSION_ID `version_id`; a negative argument
    /// leaves its column unconstrained. Throws as the general form.
    [[nodiscard]] DataResult read_data(const std::string& type_name, int public_id, int version_id);

    /// Inserts one row with the values of `data` whose keys name fields of the type (others
    /// are ignored); an empty map sends nothing. Throws qix::Error "Type name cannot be
    /// empty.", the errors of read_fields, "Invalid field name" when any field name of the
    /// type is not of the form [A-Z][A-Z0-9_]* (before the statement is built), or the
    /// database's rejection of the statement.
    void add_data(const std::string& type_name, const ConfigurationDataValueMap& data);

    /// Sets the fields of `data` (keys that name no field are ignored) in the rows with
    /// PUBLIC_ID `public_id`; an empty map or a negative id sends nothing, an id without rows
    /// changes nothing. Throws like add_data.
    void update_data(const std::string& type_name, std::int32_t public_id, const ConfigurationDataValueMap& data);

    /// Deletes the rows with PUBLIC_ID `public_id`; a negative id sends nothing. Throws
    /// qix::Error "Type name cannot be empty.", "Invalid field name" or the query layer's error.
    void delete_data(const std::string& type_name, std::int32_t public_id);

    /// The item name made of the values of the name fields (`name_flag_`, not code 'B') that
    /// `data` holds, in field-id order, joined with "/"; a NULL value gives an empty segment.
    /// Returns "" for an empty `data` or when no field contributes. Throws qix::Error "Fields
    /// cannot be empty." or "Multiple item types are not allowed.". Needs no database.
    [[nodiscard]] static std::string make_item_name(const ConfigurationDataValueMap& data,
                                                    const ConfigurationFieldMap& fields);

    /// As the static form with the fields of `type_name` read from the database (not read,
    /// and "" returned, when `data` is empty). Throws the errors of read_fields and of the
    /// static form.
    [[nodiscard]] std::string make_item_name(const ConfigurationDataValueMap& data, const std::string& type_name);

private:
    // "<schema>.<view>", and "<schema>.CM_VIEW_DATA_<type>" for the data view of a type.
    [[nodiscard]] std::string view_name(const std::string& view) const;
    [[nodiscard]] std::string data_view_name(const std::string& type_name) const;

    Database& database_;
    std::string schema_name_;
};

} // namespace qix::sql
