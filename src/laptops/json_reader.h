// Reading a JSON file that people write by hand (laptop files, scenario files): the parse with
// the line of every field, and typed reads that refuse what does not fit with one message,
// "FILE:LINE: /json/pointer: expected ..., got ...". Nothing is half-read: a fault throws
// before the caller has built anything from the file. Portable (nlohmann-json), built natively
// and with MinGW; include it only from .cpp files whose target links nlohmann-json.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavo::json_reader {

using nlohmann::json;

// what(): the whole message, file and line first.
class JsonFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A parsed file and, by JSON pointer (/hid/2/vendorId), the line each field's key (or each
// array element) is written on.
struct Document {
    std::string file;
    json value;
    std::map<std::string, int> lines;
};

// The file's bytes; on failure the system's reason in *error.
std::string ReadBytes(const std::string& path, std::string* error);
// "PATH: expected a readable KIND, got REASON" when the file cannot be read; "PATH:LINE:
// expected JSON, got ..." when it does not parse or gives a field twice.
Document ReadJsonFile(const std::string& path, const std::string& kind);
Document ParseJson(const std::string& path, const std::string& bytes);

std::string EscapePointer(const std::string& key);
// A value as the file shows it, cut to 60 characters.
std::string Shown(const json& value);

class Reader {
public:
    explicit Reader(const Document& doc) : file_(doc.file), lines_(doc.lines) {}

    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const std::string& got) const;
    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const char* got) const {
        Fail(pointer, expected, std::string(got));
    }
    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const json& got) const {
        Fail(pointer, expected, Shown(got));
    }
    const std::string& file() const { return file_; }
    // ":LINE" of the field, or of the nearest enclosing one that is written down.
    std::string LineOf(std::string pointer) const;

private:
    std::string file_;
    std::map<std::string, int> lines_;
};

// A JSON object whose fields are taken one by one; any field not named is refused.
class Object {
public:
    Object(const Reader& reader, const json& value, std::string pointer, const std::vector<std::string>& fields);
    std::string Path(const std::string& field) const { return pointer_ + "/" + EscapePointer(field); }
    const std::string& pointer() const { return pointer_; }
    const json* Find(const std::string& field) const;
    // The field's value, refused when missing.
    const json& Need(const std::string& field, const std::string& expected) const;
    const Reader& reader() const { return reader_; }
    const json& value() const { return value_; }

private:
    const Reader& reader_;
    const json& value_;
    std::string pointer_;
};

// "0x2C7E" or "-0x10" (at most 8 hex digits): the number, or false.
bool HexString(const std::string& text, std::int64_t* out);
std::string Hex(std::int64_t v);

// An integer from min to max, written as a JSON number or a hex string.
std::int64_t Integer(const Reader& r, const std::string& pointer, const json& v, std::int64_t min, std::int64_t max);

template <typename T>
T Number(const Object& o, const std::string& field, std::optional<T> fallback = std::nullopt) {
    constexpr auto min = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    constexpr auto max = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    const json* v = o.Find(field);
    if (!v && fallback) return *fallback;
    if (!v)
        o.Need(field, "a number from " + std::to_string(min) + " to " + Hex(max) +
                          " (a JSON number or a string such as \"0x2C7E\")");
    return static_cast<T>(Integer(o.reader(), o.Path(field), *v, min, max));
}

std::wstring WideText(const Reader& r, const std::string& pointer, const json& v, bool allowEmpty);
std::wstring WideText(const Object& o, const std::string& field, bool allowEmpty = false,
                      std::optional<std::wstring> fallback = std::nullopt);
std::string NarrowText(const Reader& r, const std::string& pointer, const json& v);
// A string that is not empty; refused when missing.
std::string NarrowText(const Object& o, const std::string& field);
bool Flag(const Object& o, const std::string& field, bool fallback);

// An array of the field's elements (each read by read(pointer, element)).
template <typename Read>
auto List(const Object& o, const std::string& field, bool required, std::size_t minimum, Read read) {
    using Element = decltype(read(std::string(), json()));
    std::vector<Element> out;
    const json* v = o.Find(field);
    if (!v && !required) return out;
    const std::string expected =
        minimum ? "an array of at least " + std::to_string(minimum) + " element(s)" : "an array";
    if (!v) o.Need(field, expected);
    if (!v->is_array() || v->size() < minimum) o.reader().Fail(o.Path(field), expected, *v);
    for (std::size_t i = 0; i < v->size(); ++i) out.push_back(read(o.Path(field) + "/" + std::to_string(i), (*v)[i]));
    return out;
}

}  // namespace tavo::json_reader
