// The component list file: a line-oriented text file with a flag-name section and a
// components section of 16-line records. See ComponentList::write_to_file and read_from_file.

#include "ComponentListFile.h"

#include <qix/sql/ComponentFields.h>
#include <qix/sql/ComponentList.h>
#include <qix/util/exceptions.h>
#include <qix/util/tessel.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qix::sql {

namespace detail {

namespace {

// "inf", "infinity" or "nan" with an optional "(" [A-Za-z0-9_]* ")"; nothing otherwise.
std::optional<double> parse_special_number(std::string_view text) noexcept
{
    const auto lower_equals = [](std::string_view a, std::string_view lower) {
        if (a.size() != lower.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if ((a[i] | 0x20) != lower[i])
                return false;
        return true;
    };
    if (lower_equals(text, "inf") || lower_equals(text, "infinity"))
        return std::numeric_limits<double>::infinity();
    if (text.size() < 3 || !lower_equals(text.substr(0, 3), "nan"))
        return std::nullopt;
    std::string_view rest = text.substr(3);
    if (rest.empty())
        return std::numeric_limits<double>::quiet_NaN();
    if (rest.size() < 2 || rest.front() != '(' || rest.back() != ')')
        return std::nullopt;
    for (const char c : rest.substr(1, rest.size() - 2)) {
        const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (!letter && !(c >= '0' && c <= '9') && c != '_')
            return std::nullopt;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Checks the exponent part ("e", optional sign, digits fitting int32) that starts at `text`.
bool valid_exponent(std::string_view text, std::int64_t& exponent) noexcept
{
    std::size_t i = 1;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    if (i == text.size())
        return false;
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i]))
            return false;
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            return false;
    }
    exponent = negative ? -value : value;
    return true;
}

// A mantissa of digits with at most one '.' and at least one digit, and an optional exponent.
// from_chars rounds correctly but reports values beyond the double range only as an error, so
// the decimal magnitude of the first significant digit decides between infinity and zero.
std::optional<double> parse_decimal_number(std::string_view text) noexcept
{
    std::size_t i = 0;
    std::int64_t digits = 0;
    std::int64_t integer_digits = -1; // set at the point or at the end of the mantissa
    std::int64_t first_nonzero = -1;  // index of the first non-zero digit among all digits
    for (; i < text.size() && (is_digit(text[i]) || text[i] == '.'); ++i) {
        if (text[i] == '.') {
            if (integer_digits >= 0)
                return std::nullopt;
            integer_digits = digits;
            continue;
        }
        if (text[i] != '0' && first_nonzero < 0)
            first_nonzero = digits;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (integer_digits < 0)
        integer_digits = digits;
    std::int64_t exponent = 0;
    if (i < text.size() && ((text[i] != 'e' && text[i] != 'E') || !valid_exponent(text.substr(i), exponent)))
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size())
        return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        const std::int64_t magnitude = exponent + integer_digits - 1 - first_nonzero;
        return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    if (error != std::errc{})
        return std::nullopt;
    return value;
}

// The common case in one pass: a decimal number that from_chars takes whole and within the
// double range. Starting with a digit or '.', such text follows the grammar, unless its
// exponent has more digits than fit a signed 32-bit integer for certain; that, and anything
// else, is left to the full check.
std::optional<double> parse_plain_decimal(std::string_view text) noexcept
{
    constexpr std::size_t kSafeExponentDigits = 9;
    if (text.empty() || !(is_digit(text.front()) || text.front() == '.'))
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    std::size_t digits_start = text.size();
    while (digits_start > 0 && is_digit(text[digits_start - 1]))
        --digits_start;
    if (text.size() - digits_start > kSafeExponentDigits && digits_start > 0 && text[digits_start - 1] != '.')
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> parse_list_number(std::string_view text) noexcept
{
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view body = negative ? text.substr(1) : text;
    std::optional<double> value = parse_plain_decimal(body);
    if (value) {
        if (negative)
            *value = -*value;
        return value;
    }
    value = parse_special_number(body);
    if (!value)
        value = parse_decimal_number(body);
    if (value && negative)
        *value = -*value; // sets the sign bit of a NaN as well
    return value;
}

char* format_list_number(char* out, double value) noexcept
{
    return std::to_chars(out, out + kListNumberMaxLength, value, std::chars_format::scientific, 15).ptr;
}

} // namespace detail

namespace {

constexpr std::string_view kFlagNamesOpen = "<flag_names>";
constexpr std::string_view kFlagNamesClose = "</flag_names>";
constexpr std::string_view kComponentsOpen = "<components>";
constexpr std::string_view kComponentsClose = "</components>";
constexpr std::string_view kComponentOpen = "<component>";
constexpr std::string_view kComponentClose = "</component>";

// Messages quote lines of up to this many bytes whole, longer ones by their beginning.
constexpr std::size_t kLongestQuotedLine = 1000;
constexpr std::size_t kQuotedBeginning = 200;

// The white space trimmed off tags and number lines: " \t\n\v\f\r".
bool is_blank(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trimmed(std::string_view line) noexcept
{
    while (!line.empty() && is_blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && is_blank(line.back()))
        line.remove_suffix(1);
    return line;
}

// A line as a message shows it: whole when short, otherwise its first kQuotedBeginning bytes
// (not cutting a UTF-8 sequence) in the form `form` gives them, then "…" and the line's length,
// such as "…(104857600 bytes)". A file may hold a line of any length; the message stays short.
template <typename Form>
std::string quoted_line(std::string_view line, Form form)
{
    if (line.size() <= kLongestQuotedLine)
        return std::string(form(line));
    std::size_t cut = kQuotedBeginning;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    return tessel::cat(form(line.substr(0, cut)), "\u2026(", std::to_string(line.size()), " bytes)");
}

} // namespace

namespace detail {

// The lines of a file read whole, as views into its text. Past the last line every read fails
// and gives an empty line, and failed() stays true from then on.
class ListFileLines {
public:
    explicit ListFileLines(std::string_view text) noexcept : rest_(text) {}

    // The next line without its '\n'; false at the end of the text.
    bool next(std::string_view& line) noexcept
    {
        if (rest_.empty()) {
            line = {};
            failed_ = true;
            return false;
        }
        const std::size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return true;
    }

    [[nodiscard]] bool failed() const noexcept { return failed_; }

private:
    std::string_view rest_;
    bool failed_ = false;
};

} // namespace detail

namespace {

using component_fields::kLeadingTexts;
using component_fields::kLinkName;
using component_fields::kPositions;
using detail::ListFileLines;

// Reads a text line into `text`, unescaped.
void read_line_with_escaped_string(ListFileLines& lines, std::string& text)
{
    std::string_view line;
    lines.next(line);
    if (line.find('\\') == std::string_view::npos)
        text.assign(line);
    else
        text = tessel::unescape(line);
}

double read_line_with_double(ListFileLines& lines)
{
    std::string_view line;
    lines.next(line);
    const auto value = detail::parse_list_number(trimmed(line));
    if (!value)
        throw Error(tessel::cat("Cannot parse floating point number \"",
                                quoted_line(line, [](std::string_view text) { return tessel::escape(text); }), "\""));
    return *value;
}

std::vector<bool> parse_flags(std::string_view flags_line, const std::string& name)
{
    std::vector<bool> flags;
    flags.reserve(flags_line.size());
    for (const char c : flags_line) {
        if (c != '0' && c != '1')
            throw Error(
                tessel::cat("Flag format error for component ", name, ": Expected '0' or '1', found '", c, "'"));
        flags.push_back(c == '1');
    }
    return flags;
}

// One record after its opening tag, read into `component`.
void read_component(ListFileLines& lines, Component& component)
{
    for (const ComponentTextField& text : kLeadingTexts)
        read_line_with_escaped_string(lines, component.*text.member);
    for (const ComponentNumberField& position : kPositions)
        component.*position.member = read_line_with_double(lines);
    std::string_view flags_line;
    lines.next(flags_line);
    // The link-name line is optional. Escaped text never starts with '<', so only the raw
    // closing tag reads as one, whatever the link name is.
    std::string_view line;
    lines.next(line);
    if (trimmed(line) != kComponentClose) {
        component.*kLinkName.member = tessel::unescape(line);
        lines.next(line);
    }
    if (lines.failed() || trimmed(line) != kComponentClose)
        throw Error("Cannot parse component list");
    component.flags_ = parse_flags(flags_line, component.name_);
}

// Throws the inconsistency message for the first component without one flag per flag name.
void check_flag_counts(const ComponentList& list, const std::string& filename)
{
    for (const Component& component : list.components_)
        if (component.flags_.size() != list.flag_names_.size())
            throw Error(tessel::cat(filename, " is inconsistent: Component ", component.name_, " has ",
                                    std::to_string(component.flags_.size()), " flags instead of ",
                                    std::to_string(list.flag_names_.size()), " as prescribed by the header"));
}

void append_line(std::string& text, std::string_view line)
{
    text.append(line);
    text.push_back('\n');
}

void append_escaped_line(std::string& text, std::string_view value)
{
    tessel::append_escaped(text, value);
    text.push_back('\n');
}

char* write_line(char* out, std::string_view line) noexcept
{
    std::memcpy(out, line.data(), line.size());
    out += line.size();
    *out++ = '\n';
    return out;
}

char* write_escaped_line(char* out, std::string_view value) noexcept
{
    out = tessel::write_escaped(out, value);
    *out++ = '\n';
    return out;
}

// The most bytes a component's record can take, every text escaped at its worst.
std::size_t record_size_bound(const Component& component) noexcept
{
    std::size_t texts = (component.*kLinkName.member).size();
    for (const ComponentTextField& field : kLeadingTexts)
        texts += (component.*field.member).size();
    constexpr std::size_t kLines = kLeadingTexts.size() + kPositions.size() + 4;
    return kComponentOpen.size() + kComponentClose.size() + kLines + texts * tessel::kMaxEscapedBytesPerByte +
           kPositions.size() * detail::kListNumberMaxLength + component.flags_.size();
}

// Writes the record straight into the text, which is grown once per record at most: the
// record is written into room reserved for its largest form and the text cut to what it took.
void append_component(std::string& text, const Component& component)
{
    const std::size_t start = text.size();
    const std::size_t bound = record_size_bound(component);
    if (text.capacity() < start + bound)
        text.reserve(std::max(text.capacity() * 2, start + bound));
    text.resize(start + bound);
    char* out = text.data() + start;
    out = write_line(out, kComponentOpen);
    for (const ComponentTextField& field : kLeadingTexts)
        out = write_escaped_line(out, component.*field.member);
    for (const ComponentNumberField& position : kPositions) {
        out = detail::format_list_number(out, component.*position.member);
        *out++ = '\n';
    }
    for (const bool flag : component.flags_)
        *out++ = flag ? '1' : '0';
    *out++ = '\n';
    out = write_escaped_line(out, component.*kLinkName.member);
    out = write_line(out, kComponentClose);
    text.resize(static_cast<std::size_t>(out - text.data()));
}

std::string file_text(const ComponentList& list)
{
    std::string text;
    text.reserve(64 + list.components_.size() * (256 + list.flag_names_.size()));
    append_line(text, kFlagNamesOpen);
    for (const std::string& name : list.flag_names_)
        append_escaped_line(text, name);
    append_line(text, kFlagNamesClose);
    append_line(text, kComponentsOpen);
    for (const Component& component : list.components_)
        append_component(text, component);
    append_line(text, kComponentsClose);
    return text;
}

// An open file descriptor (or none, -1), closed with the object.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { static_cast<void>(close()); }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] bool is_open() const noexcept { return fd_ >= 0; }
    // Takes `fd` in place of the one held, which is closed. errno stays as `fd` left it.
    void reset(int fd) noexcept
    {
        const int error = errno;
        static_cast<void>(close());
        fd_ = fd;
        errno = error;
    }
    // Closes now; false when that fails, which can mean that written data was lost.
    [[nodiscard]] bool close() noexcept { return fd_ >= 0 && ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

// As many links as the kernel follows when it resolves a path itself.
constexpr int kMaxLinks = 40;
// A temporary file keeps this much of the target's name, so that its own name stays within
// the 255 bytes a file name may have.
constexpr std::size_t kTemporaryNamePrefix = 200;

// The path that writing to `filename` reaches: symbolic links followed, a dangling one to the
// file a plain write would create. Empty when the links run in a loop.
std::filesystem::path resolve_links(const std::string& filename)
{
    std::filesystem::path path(filename);
    for (int links = 0; links <= kMaxLinks; ++links) {
        std::error_code error;
        std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error)
            return path; // not a link, or missing: the path itself is written
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return {};
}

// The next name for a temporary file beside `name`, unique within the process.
std::string temporary_name(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    return tessel::cat(std::string_view(name).substr(0, kTemporaryNamePrefix), ".tmp", std::to_string(::getpid()), "_",
                       std::to_string(counter++));
}

bool write_all(int fd, std::string_view text) noexcept
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A regular file (or a missing one) replaced atomically: the text goes to a new file in the
// same folder, which is flushed to disk and renamed over the target. The previous file stays
// intact whatever fails before the rename, and a new file leaves nothing behind on failure.
class AtomicReplacement {
public:
    // `mode`: the permission bits of the file replaced, which the new file takes over.
    AtomicReplacement(const std::filesystem::path& target, std::optional<mode_t> mode)
        : folder_(
              ::open(target.has_parent_path() ? target.parent_path().c_str() : ".", O_PATH | O_DIRECTORY | O_CLOEXEC)),
          name_(target.filename().string()), mode_(mode)
    {
    }
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;
    ~AtomicReplacement()
    {
        if (!temporary_.empty())
            ::unlinkat(folder_.get(), temporary_.c_str(), 0);
    }

    // Creates the new file; otherwise returns the errno of the failure.
    int create()
    {
        if (!folder_.is_open())
            return errno;
        // Where the file system offers a file without a name, a writer killed before the
        // rename leaves nothing behind either.
        file_.reset(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        unnamed_ = file_.is_open();
        for (int attempt = 0; attempt < 100 && !file_.is_open(); ++attempt) {
            std::string name = temporary_name(name_);
            file_.reset(::openat(folder_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (file_.is_open())
                temporary_ = std::move(name);
            else if (errno != EEXIST)
                return errno;
        }
        return file_.is_open() ? 0 : EEXIST;
    }

    // Writes, flushes and renames; false when a step failed (the target is then untouched).
    [[nodiscard]] bool commit(std::string_view text)
    {
        if (mode_)
            static_cast<void>(::fchmod(file_.get(), *mode_ & 07777));
        if (!write_all(file_.get(), text) || ::fsync(file_.get()) != 0 || (unnamed_ && !name_unnamed_file()) ||
            !file_.close())
            return false;
        if (::renameat(folder_.get(), temporary_.c_str(), folder_.get(), name_.c_str()) != 0)
            return false;
        temporary_.clear();
        return true;
    }

private:
    bool name_unnamed_file()
    {
        const std::string self = tessel::cat("/proc/self/fd/", std::to_string(file_.get()));
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = temporary_name(name_);
            if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temporary_ = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        return false;
    }

    FileDescriptor folder_;
    std::string name_;
    std::optional<mode_t> mode_;
    FileDescriptor file_;
    bool unnamed_ = false;
    std::string temporary_; // the named new file, removed unless renamed
};

// Opens `path` as a plain output stream would (created or truncated) and writes `text` into
// it; for a regular file the text is flushed to disk as well.
void write_in_place(const std::filesystem::path& path, const std::string& filename, std::string_view text, bool regular)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.is_open())
        throw Error(tessel::cat("Unable to open ", filename, " for writing"));
    if (!write_all(file.get(), text) || (regular && ::fsync(file.get()) != 0) || !file.close())
        throw Error(tessel::cat("Error while writing to ", filename));
}

// Puts `text` into the file that `filename` names, by kind of file: see write_to_file.
void write_file(const std::string& filename, std::string_view text)
{
    const std::filesystem::path target = resolve_links(filename);
    if (target.empty())
        throw Error(tessel::cat("Unable to open ", filename, " for writing"));
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    // Devices, FIFOs and sockets are written to, never replaced: a reader of a FIFO gets the
    // text and /dev/null stays a device. A folder fails to open, as it would for a stream.
    if ((exists && !S_ISREG(existing.st_mode)) || !target.has_filename()) {
        write_in_place(target, filename, text, false);
        return;
    }
    AtomicReplacement replacement(target, exists ? std::optional<mode_t>(existing.st_mode) : std::nullopt);
    if (const int error = replacement.create(); error != 0) {
        // A folder that only forbids new files still lets the existing file be rewritten.
        if (exists && (error == EACCES || error == EPERM)) {
            write_in_place(target, filename, text, true);
            return;
        }
        throw Error(tessel::cat("Unable to open ", filename, " for writing"));
    }
    if (!replacement.commit(text))
        throw Error(tessel::cat("Error while writing to ", filename));
}

// Memory mapped straight from the kernel, for the text of a file read whole. Taking it past
// malloc keeps a large file from raising malloc's threshold for mapping memory of its own, after
// which the process's later large blocks would come from the heap.
class MappedBuffer {
public:
    MappedBuffer() = default;
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;
    ~MappedBuffer()
    {
        if (data_ != nullptr)
            ::munmap(data_, capacity_);
    }

    // Room for at least `capacity` bytes, the text kept; false when no memory is left.
    bool reserve(std::size_t capacity) noexcept
    {
        if (capacity <= capacity_)
            return true;
        void* data = data_ == nullptr
                         ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                         : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
        if (data == MAP_FAILED)
            return false;
        data_ = static_cast<char*>(data);
        capacity_ = capacity;
        return true;
    }

    [[nodiscard]] char* data() noexcept { return data_; }
    [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }

private:
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// Reads the whole file that `filename` names into `buffer` and returns its text; nothing when it
// cannot be opened or read (a folder opens but cannot be read). A regular file is read into a
// buffer of its size.
std::optional<std::string_view> read_whole_file(const std::string& filename, MappedBuffer& buffer)
{
    constexpr std::size_t kFirstBufferSize = 1 << 16;
    const FileDescriptor file(::open(filename.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.is_open())
        return std::nullopt;
    struct stat info {};
    const bool regular = ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
    // One byte beyond a regular file's size lets the end be seen without growing the buffer.
    if (!buffer.reserve(regular ? static_cast<std::size_t>(info.st_size) + 1 : kFirstBufferSize))
        return std::nullopt;
    std::size_t size = 0;
    for (;;) {
        if (size == buffer.capacity() && !buffer.reserve(2 * size))
            return std::nullopt;
        const ssize_t count = ::read(file.get(), buffer.data() + size, buffer.capacity() - size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        size += static_cast<std::size_t>(count);
    }
    return std::string_view(buffer.data(), size);
}

// A list whose file could not be read back as it is is refused before anything is written.
void check_writable(const ComponentList& list, const std::string& filename)
{
    check_flag_counts(list, filename);
    for (std::size_t i = 0; i < list.flag_names_.size(); ++i)
        if (list.flag_names_[i].empty())
            throw Error(tessel::cat("Unable to write ", filename, ": flag name ", std::to_string(i + 1),
                                    " is empty, and a list file cannot hold an empty flag name"));
}

} // namespace

void ComponentList::write_to_file(const std::string& filename) const
{
    check_writable(*this, filename);
    write_file(filename, file_text(*this));
}

void ComponentList::read_from_file(const std::string& filename)
{
    clear();
    MappedBuffer buffer;
    const std::optional<std::string_view> text = read_whole_file(filename, buffer);
    if (!text)
        throw Error(tessel::cat("Unable to open ", filename, " for reading"));
    ListFileLines lines(*text);
    std::string_view line;
    while (lines.next(line)) {
        const std::string_view tag = trimmed(line);
        if (tag.empty())
            continue;
        if (tag == kFlagNamesOpen)
            read_flag_names_from_lines(lines);
        else if (tag == kComponentsOpen)
            read_components_from_lines(lines);
        else
            throw Error(tessel::cat("Unexpected line in ", filename, ": ",
                                    quoted_line(tag, [](std::string_view text) { return text; })));
    }
    check_flag_counts(*this, filename);
}

void ComponentList::read_flag_names_from_lines(detail::ListFileLines& lines)
{
    flag_names_.clear();
    std::string_view line;
    // Every non-blank line up to the closing tag is a flag name; hand-edited files have blank
    // lines. The empty name is refused where it could come from, so none is lost here.
    while (lines.next(line)) {
        const std::string_view name = trimmed(line);
        if (name.empty())
            continue;
        if (name == kFlagNamesClose)
            return;
        flag_names_.push_back(tessel::unescape(name));
    }
    flag_names_.clear();
    throw Error("Found no closing </flag_names> tag");
}

void ComponentList::read_components_from_lines(detail::ListFileLines& lines)
{
    components_.clear();
    std::string_view line;
    while (lines.next(line)) {
        const std::string_view tag = trimmed(line);
        if (tag == kComponentsClose)
            return;
        if (tag == kComponentOpen) {
            // Read in place; a record that fails leaves no half-read component behind.
            try {
                read_component(lines, components_.emplace_back());
            } catch (...) {
                components_.pop_back();
                throw;
            }
        }
        // Anything else between records is ignored.
    }
    components_.clear();
    throw Error("Found no closing </components> tag");
}

} // namespace qix::sql
