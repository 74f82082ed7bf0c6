#include "Output.h"

#include "Printable.h"

#include <qix/util/tessel.h>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>

namespace qix::tool {

namespace {

constexpr const char* kColumnGap = "  ";

std::string to_text(const Value& value)
{
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(std::int64_t v) const { return fmt::format("{}", v); }
        std::string operator()(double v) const { return fmt::format("{}", v); }
        std::string operator()(bool v) const { return v ? "yes" : "no"; }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(const std::vector<std::string>& v) const { return fmt::format("{}", fmt::join(v, " ")); }
    };
    return std::visit(Visitor{}, value);
}

// JSON strings are UTF-8: a text that is not stays exact as {"hex": "<its bytes in hexadecimal>"},
// which no valid text can be mistaken for.
nlohmann::ordered_json json_text(const std::string& text)
{
    if (is_utf8(text))
        return text;
    std::string hex;
    for (const char c : text)
        hex += fmt::format("{:02x}", static_cast<unsigned char>(c));
    return {{"hex", hex}};
}

nlohmann::ordered_json to_json(const Value& value)
{
    struct Visitor {
        nlohmann::ordered_json operator()(std::monostate) const { return nullptr; }
        nlohmann::ordered_json operator()(std::int64_t v) const { return v; }
        nlohmann::ordered_json operator()(double v) const { return v; }
        nlohmann::ordered_json operator()(bool v) const { return v; }
        nlohmann::ordered_json operator()(const std::string& v) const { return json_text(v); }
        nlohmann::ordered_json operator()(const std::vector<std::string>& v) const
        {
            auto list = nlohmann::ordered_json::array();
            for (const auto& text : v)
                list.push_back(json_text(text));
            return list;
        }
    };
    return std::visit(Visitor{}, value);
}

bool is_number(const Value& value)
{
    return std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value);
}

// Display width in characters: UTF-8 continuation bytes take no column.
std::size_t display_width(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The text table is for a terminal: every cell is printable, so no value can start a line of its
// own or send the terminal a control sequence.
void print_text(const Table& table, const std::vector<std::string>& header, std::size_t shown, std::ostream& out)
{
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths;
    for (const auto& column : header)
        widths.push_back(display_width(column));
    for (std::size_t r = 0; r < shown; ++r) {
        auto& line = cells.emplace_back();
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            line.push_back(printable(to_text(table.rows[r][c])));
            widths[c] = std::max(widths[c], display_width(line.back()));
        }
    }
    auto write_line = [&](const std::vector<std::string>& line, auto right_aligned) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string padding(widths[c] - display_width(line[c]), ' ');
            text += c == 0 ? "" : kColumnGap;
            text += right_aligned(c) ? padding + line[c] : line[c] + padding;
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << '\n';
    };
    // A numeric column is right-aligned, its header too.
    auto numeric = [&](std::size_t c) { return shown > 0 && is_number(table.rows[0][c]); };
    write_line(header, numeric);
    for (std::size_t r = 0; r < shown; ++r)
        write_line(cells[r], [&](std::size_t c) { return is_number(table.rows[r][c]); });
    if (table.rows.empty())
        out << "(0 rows)\n";
    else if (shown < table.rows.size())
        fmt::print(out, "({} of {} rows shown)\n", shown, table.rows.size());
}

std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void print_csv(const Table& table, const std::vector<std::string>& header, std::size_t shown, std::ostream& out)
{
    auto write_line = [&out](const auto& fields, auto text_of) {
        for (std::size_t c = 0; c < fields.size(); ++c)
            out << (c == 0 ? "" : ",") << csv_field(text_of(fields[c]));
        out << '\n';
    };
    write_line(header, [](const std::string& column) { return column; });
    for (std::size_t r = 0; r < shown; ++r)
        write_line(table.rows[r], to_text);
}

void print_json(const Table& table, const std::vector<std::string>& header, std::size_t shown, std::ostream& out)
{
    auto rows = nlohmann::ordered_json::array();
    for (std::size_t r = 0; r < shown; ++r) {
        nlohmann::ordered_json row = nlohmann::ordered_json::object();
        for (std::size_t c = 0; c < table.columns.size(); ++c)
            row[header[c]] = to_json(table.rows[r][c]);
        rows.push_back(std::move(row));
    }
    out << rows.dump(2) << '\n';
}

} // namespace

void print_table(const Table& table, Format format, std::ostream& out, std::size_t limit)
{
    const std::size_t shown = limit == 0 ? table.rows.size() : std::min(limit, table.rows.size());
    // One name per column in every format: the column in capitals.
    std::vector<std::string> header;
    for (const auto& column : table.columns)
        header.push_back(tessel::uppercase_ascii(column));
    switch (format) {
    case Format::table: print_text(table, header, shown, out); break;
    case Format::csv: print_csv(table, header, shown, out); break;
    case Format::json: print_json(table, header, shown, out); break;
    }
}

} // namespace qix::tool
