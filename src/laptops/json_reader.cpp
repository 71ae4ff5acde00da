#include "laptops/json_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>

#include "platform/reg_text.h"

namespace tavo::json_reader {

namespace {

// ---- where each field is written --------------------------------------------------------
// nlohmann-json keeps no positions in its values, so a first pass through its SAX parser
// notes the line of every field (its key) and array element (its first character) by JSON
// pointer, and refuses a field given twice; the values are then read from the DOM.

struct Position {
    int line = 1;
    bool lastWasNewline = false;
};

// Walks the file's bytes for the parser, counting lines as they are consumed.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* p, Position* position) : p_(p), position_(position) {}
    reference operator*() const { return *p_; }
    CountingIterator& operator++() {
        position_->lastWasNewline = *p_ == '\n';
        if (position_->lastWasNewline) ++position_->line;
        ++p_;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const CountingIterator& a, const CountingIterator& b) { return a.p_ == b.p_; }

private:
    const char* p_;
    Position* position_;
};

class LineRecorder : public nlohmann::json_sax<json> {
public:
    explicit LineRecorder(const Position& position) : position_(position) {}

    std::map<std::string, int> lines;
    std::string error;  // set when the pass stops
    int errorLine = 0;
    std::size_t errorByte = 0;

    bool null() override { return Scalar(position_.line); }
    bool boolean(bool) override { return Scalar(position_.line); }
    // A number is known only once the character after it is read.
    bool number_integer(number_integer_t) override { return Scalar(NumberLine()); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(NumberLine()); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(NumberLine()); }
    bool string(string_t&) override { return Scalar(position_.line); }
    bool binary(binary_t&) override { return Scalar(position_.line); }
    bool start_object(std::size_t) override { return Open(false); }
    bool start_array(std::size_t) override { return Open(true); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& k) override {
        Frame& f = stack_.back();
        f.key = k;
        const std::string path = f.path + "/" + EscapePointer(k);
        if (!f.keys.insert(k).second) {
            error = path + ": expected each field once, got \"" + k + "\" a second time";
            errorLine = position_.line;
            return false;
        }
        lines[path] = position_.line;
        return true;
    }
    bool parse_error(std::size_t byte, const std::string&, const nlohmann::detail::exception& ex) override {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
        std::string what = ex.what();
        const std::size_t column = what.find("column ");
        const std::size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
        if (colon != std::string::npos) what = what.substr(colon + 2);
        error = "expected JSON, got " + what;
        errorByte = byte;
        errorLine = -1;  // from the byte offset
        return false;
    }

private:
    struct Frame {
        bool array;
        std::string path;
        std::size_t index = 0;
        std::string key;
        std::set<std::string> keys;
    };
    int NumberLine() const { return position_.line - (position_.lastWasNewline ? 1 : 0); }
    std::string ValuePath() const {
        if (stack_.empty()) return "";
        const Frame& f = stack_.back();
        return f.path + "/" + (f.array ? std::to_string(f.index) : EscapePointer(f.key));
    }
    void Placed(int line) {
        // A field's line is its key's; an element's, its own.
        if (stack_.empty() || stack_.back().array) lines[ValuePath()] = line;
    }
    void Next() {
        if (!stack_.empty() && stack_.back().array) ++stack_.back().index;
    }
    bool Scalar(int line) {
        Placed(line);
        Next();
        return true;
    }
    bool Open(bool array) {
        Placed(position_.line);
        stack_.push_back(Frame{array, ValuePath(), 0, {}, {}});
        return true;
    }
    bool Close() {
        stack_.pop_back();
        Next();
        return true;
    }

    const Position& position_;
    std::vector<Frame> stack_;
};

}  // namespace

std::string EscapePointer(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

std::string Shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 60) text = text.substr(0, 57) + "...";
    return text;
}

std::string ReadBytes(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::strerror(errno);
        return {};
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) *error = "read error";
    return content.str();
}

Document ParseJson(const std::string& path, const std::string& bytes) {
    // First pass: the line of every field, and JSON that does not parse.
    Position position;
    LineRecorder recorder(position);
    const bool parsed = json::sax_parse(CountingIterator(bytes.data(), &position),
                                        CountingIterator(bytes.data() + bytes.size(), &position), &recorder);
    if (!parsed) {
        int line = recorder.errorLine;
        if (line < 0)
            line = 1 + static_cast<int>(std::count(bytes.begin(),
                                                   bytes.begin() + static_cast<std::ptrdiff_t>(
                                                                       std::min(recorder.errorByte, bytes.size())),
                                                   '\n'));
        // The byte the parser stopped at may be the newline after the fault.
        if (recorder.errorLine < 0 && recorder.errorByte > 0 && recorder.errorByte <= bytes.size() &&
            bytes[recorder.errorByte - 1] == '\n' && line > 1)
            --line;
        throw JsonFileError(path + ":" + std::to_string(line) + ": " + recorder.error);
    }
    return Document{path, json::parse(bytes), std::move(recorder.lines)};
}

Document ReadJsonFile(const std::string& path, const std::string& kind) {
    std::string error;
    const std::string bytes = ReadBytes(path, &error);
    if (!error.empty()) throw JsonFileError(path + ": expected a readable " + kind + ", got " + error);
    return ParseJson(path, bytes);
}

void Reader::Fail(const std::string& pointer, const std::string& expected, const std::string& got) const {
    throw JsonFileError(file_ + LineOf(pointer) + ": " + (pointer.empty() ? "/" : pointer) + ": expected " +
                        expected + ", got " + got);
}

std::string Reader::LineOf(std::string pointer) const {
    while (true) {
        auto it = lines_.find(pointer);
        if (it != lines_.end()) return ":" + std::to_string(it->second);
        if (pointer.empty()) return "";
        pointer = pointer.substr(0, pointer.rfind('/'));
    }
}

Object::Object(const Reader& reader, const json& value, std::string pointer, const std::vector<std::string>& fields)
    : reader_(reader), value_(value), pointer_(std::move(pointer)) {
    if (!value.is_object()) reader_.Fail(pointer_, "an object", value);
    std::string list;
    for (const auto& f : fields) list += (list.empty() ? "" : ", ") + f;
    for (const auto& [k, v] : value.items())
        if (std::find(fields.begin(), fields.end(), k) == fields.end())
            reader_.Fail(Path(k), "one of the fields " + list, "an unknown field \"" + k + "\"");
}

const json* Object::Find(const std::string& field) const {
    auto it = value_.find(field);
    return it == value_.end() ? nullptr : &*it;
}

const json& Object::Need(const std::string& field, const std::string& expected) const {
    const json* v = Find(field);
    if (!v) reader_.Fail(Path(field), expected, "nothing (the field is missing)");
    return *v;
}

bool HexString(const std::string& text, std::int64_t* out) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X') || s.size() > 2 + 8) return false;
    std::int64_t v = 0;
    for (char c : s.substr(2)) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + d;
    }
    *out = negative ? -v : v;
    return true;
}

std::string Hex(std::int64_t v) {
    std::ostringstream s;
    s << (v < 0 ? "-0x" : "0x") << std::uppercase << std::hex << (v < 0 ? -v : v);
    return s.str();
}

std::int64_t Integer(const Reader& r, const std::string& pointer, const json& v, std::int64_t min, std::int64_t max) {
    const std::string expected = "a number from " + (min <= 0 ? std::to_string(min) : Hex(min)) + " to " + Hex(max) +
                                 " (a JSON number or a string such as \"0x2C7E\")";
    std::int64_t n = 0;
    if (v.is_number_unsigned()) {
        if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(max)) r.Fail(pointer, expected, v);
        n = static_cast<std::int64_t>(v.get<std::uint64_t>());
    } else if (v.is_number_integer()) {
        n = v.get<std::int64_t>();
    } else if (!v.is_string() || !HexString(v.get<std::string>(), &n)) {
        r.Fail(pointer, expected, v);
    }
    if (n < min || n > max) r.Fail(pointer, expected, v);
    return n;
}

std::wstring WideText(const Reader& r, const std::string& pointer, const json& v, bool allowEmpty) {
    if (!v.is_string() || (!allowEmpty && v.get<std::string>().empty()))
        r.Fail(pointer, allowEmpty ? "a string" : "a string that is not empty", v);
    return WideFromUtf8(v.get<std::string>());
}

std::wstring WideText(const Object& o, const std::string& field, bool allowEmpty, std::optional<std::wstring> fallback) {
    const json* v = o.Find(field);
    if (!v && fallback) return *fallback;
    return WideText(o.reader(), o.Path(field), v ? *v : o.Need(field, "a string"), allowEmpty);
}

std::string NarrowText(const Reader& r, const std::string& pointer, const json& v) {
    if (!v.is_string() || v.get<std::string>().empty()) r.Fail(pointer, "a string that is not empty", v);
    return v.get<std::string>();
}

std::string NarrowText(const Object& o, const std::string& field) {
    return NarrowText(o.reader(), o.Path(field), o.Need(field, "a string"));
}

bool Flag(const Object& o, const std::string& field, bool fallback) {
    const json* v = o.Find(field);
    if (!v) return fallback;
    if (!v->is_boolean()) o.reader().Fail(o.Path(field), "true or false", *v);
    return v->get<bool>();
}

}  // namespace tavo::json_reader
