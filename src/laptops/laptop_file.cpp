#include "laptops/laptop_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#ifndef TAVO_LAPTOPS_SOURCE_DIR
#define TAVO_LAPTOPS_SOURCE_DIR "laptops"
#endif

namespace tavo::laptops {

namespace {

using nlohmann::json;

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

// ---- reading values ----------------------------------------------------------------------

std::string Shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 60) text = text.substr(0, 57) + "...";
    return text;
}

class Reader {
public:
    Reader(std::string file, std::map<std::string, int> lines) : file_(std::move(file)), lines_(std::move(lines)) {}

    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const std::string& got) const {
        throw LaptopFileError(file_ + LineOf(pointer) + ": " + (pointer.empty() ? "/" : pointer) + ": expected " +
                              expected + ", got " + got);
    }
    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const char* got) const {
        Fail(pointer, expected, std::string(got));
    }
    [[noreturn]] void Fail(const std::string& pointer, const std::string& expected, const json& got) const {
        Fail(pointer, expected, Shown(got));
    }
    const std::string& file() const { return file_; }

private:
    // ":LINE" of the field, or of the nearest enclosing one that is written down.
    std::string LineOf(std::string pointer) const {
        while (true) {
            auto it = lines_.find(pointer);
            if (it != lines_.end()) return ":" + std::to_string(it->second);
            if (pointer.empty()) return "";
            pointer = pointer.substr(0, pointer.rfind('/'));
        }
    }
    std::string file_;
    std::map<std::string, int> lines_;
};

// A JSON object whose fields are taken one by one; any field not named is refused.
class Object {
public:
    Object(const Reader& reader, const json& value, std::string pointer, std::vector<std::string> fields)
        : reader_(reader), value_(value), pointer_(std::move(pointer)) {
        if (!value.is_object()) reader_.Fail(pointer_, "an object", value);
        std::string list;
        for (const auto& f : fields) list += (list.empty() ? "" : ", ") + f;
        for (const auto& [k, v] : value.items())
            if (std::find(fields.begin(), fields.end(), k) == fields.end())
                reader_.Fail(Path(k), "one of the fields " + list, "an unknown field \"" + k + "\"");
    }
    std::string Path(const std::string& field) const { return pointer_ + "/" + EscapePointer(field); }
    const json* Find(const std::string& field) const {
        auto it = value_.find(field);
        return it == value_.end() ? nullptr : &*it;
    }
    // The field's value, refused when missing.
    const json& Need(const std::string& field, const std::string& expected) const {
        const json* v = Find(field);
        if (!v) reader_.Fail(Path(field), expected, "nothing (the field is missing)");
        return *v;
    }
    const Reader& reader() const { return reader_; }

private:
    const Reader& reader_;
    const json& value_;
    std::string pointer_;
};

// "0x2C7E" or "-0x10": the number, or false.
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

// An integer from min to max, written as a JSON number or a hex string.
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

template <typename T>
T Number(const Object& o, const std::string& field, std::optional<T> fallback = std::nullopt) {
    constexpr auto min = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    constexpr auto max = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    const json* v = o.Find(field);
    if (!v && fallback) return *fallback;
    if (!v) o.Need(field, "a number from " + std::to_string(min) + " to " + Hex(max) + " (a JSON number or a string such as \"0x2C7E\")");
    return static_cast<T>(Integer(o.reader(), o.Path(field), *v, min, max));
}

std::wstring Text(const Reader& r, const std::string& pointer, const json& v, bool allowEmpty) {
    if (!v.is_string() || (!allowEmpty && v.get<std::string>().empty()))
        r.Fail(pointer, allowEmpty ? "a string" : "a string that is not empty", v);
    return WideFromUtf8(v.get<std::string>());
}

std::wstring Text(const Object& o, const std::string& field, bool allowEmpty = false,
                  std::optional<std::wstring> fallback = std::nullopt) {
    const json* v = o.Find(field);
    if (!v && fallback) return *fallback;
    return Text(o.reader(), o.Path(field), v ? *v : o.Need(field, "a string"), allowEmpty);
}

std::string Narrow(const Object& o, const std::string& field) {
    const json& v = o.Need(field, "a string");
    if (!v.is_string() || v.get<std::string>().empty()) o.reader().Fail(o.Path(field), "a string that is not empty", v);
    return v.get<std::string>();
}

bool Flag(const Object& o, const std::string& field, bool fallback) {
    const json* v = o.Find(field);
    if (!v) return fallback;
    if (!v->is_boolean()) o.reader().Fail(o.Path(field), "true or false", *v);
    return v->get<bool>();
}

// An array of the field's elements (each read by read(pointer, element)).
template <typename Read>
auto List(const Object& o, const std::string& field, bool required, std::size_t minimum, Read read) {
    using Element = decltype(read(std::string(), json()));
    std::vector<Element> out;
    const json* v = o.Find(field);
    if (!v && !required) return out;
    const std::string expected = minimum ? "an array of at least " + std::to_string(minimum) + " element(s)" : "an array";
    if (!v) o.Need(field, expected);
    if (!v->is_array() || v->size() < minimum) o.reader().Fail(o.Path(field), expected, *v);
    for (std::size_t i = 0; i < v->size(); ++i) out.push_back(read(o.Path(field) + "/" + std::to_string(i), (*v)[i]));
    return out;
}

std::vector<std::wstring> HardwareIds(const Object& o) {
    return List(o, "hardwareIds", true, 1, [&](const std::string& p, const json& v) { return Text(o.reader(), p, v, false); });
}

WindowsSpec ReadWindows(const Reader& r, const Object& top) {
    const std::string pointer = top.Path("windows");
    const json& v = top.Need("windows", "\"10\", \"11\" or an object");
    if (v.is_string() || v.is_number_integer()) {
        const std::string name = v.is_string() ? v.get<std::string>() : std::to_string(v.get<std::int64_t>());
        if (name == "10") return WindowsByName(10);
        if (name == "11") return WindowsByName(11);
        r.Fail(pointer, "\"10\", \"11\" or an object {productName, releaseId, currentBuild, major, minor, ubr}", v);
    }
    const Object o(r, v, pointer, {"productName", "releaseId", "currentBuild", "major", "minor", "ubr"});
    WindowsSpec w;
    w.productName = Text(o, "productName");
    w.releaseId = Text(o, "releaseId");
    w.currentBuild = Text(o, "currentBuild");
    w.major = Number<std::uint32_t>(o, "major");
    w.minor = Number<std::uint32_t>(o, "minor");
    w.ubr = Number<std::uint32_t>(o, "ubr");
    return w;
}

FeatureValueSpec ReadFeatureValue(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer,
                   {"reportId", "usagePage", "usage", "bitSize", "reportCount", "logicalMin", "logicalMax",
                    "physicalMin", "physicalMax"});
    FeatureValueSpec f;
    f.reportId = Number<std::uint8_t>(o, "reportId");
    f.usagePage = Number<std::uint16_t>(o, "usagePage");
    f.usage = Number<std::uint16_t>(o, "usage");
    f.bitSize = Number<std::uint16_t>(o, "bitSize");
    f.reportCount = Number<std::uint16_t>(o, "reportCount");
    f.logicalMin = Number<std::int32_t>(o, "logicalMin", 0);
    f.logicalMax = Number<std::int32_t>(o, "logicalMax", 0xFFFF);
    f.physicalMin = Number<std::int32_t>(o, "physicalMin", 0);
    f.physicalMax = Number<std::int32_t>(o, "physicalMax", 0);
    return f;
}

FirmwareSpec ReadFirmware(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer, {"functions", "refused"});
    FirmwareSpec fw;
    const json& functions = o.Need("functions", "an object of function codes and their values");
    if (!functions.is_object())
        r.Fail(o.Path("functions"), "an object of function codes and their values, {\"0x0101\": \"0x0001\"}", functions);
    for (const auto& [code, value] : functions.items()) {
        const std::string p = o.Path("functions") + "/" + EscapePointer(code);
        std::int64_t c = 0;
        if (!HexString(code, &c) || c < 0 || c > 0xFFFF)
            r.Fail(p, "a function code from 0x0 to 0xFFFF written as \"0x0101\"", "\"" + code + "\"");
        fw.functions[static_cast<std::uint16_t>(c)] = static_cast<std::uint16_t>(Integer(r, p, value, 0, 0xFFFF));
    }
    for (std::uint16_t c : List(o, "refused", false, 0, [&](const std::string& p, const json& e) {
             return static_cast<std::uint16_t>(Integer(r, p, e, 0, 0xFFFF));
         }))
        fw.refused.insert(c);
    return fw;
}

HidSpec ReadHid(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer,
                   {"name", "path", "hardwareIds", "description", "vendorId", "productId", "versionNumber", "usagePage",
                    "usage", "featureValues", "systemOwned", "firmware"});
    HidSpec h;
    h.name = Narrow(o, "name");
    h.path = Text(o, "path");
    h.hardwareIds = HardwareIds(o);
    h.description = Text(o, "description", true, h.description);
    h.vendorId = Number<std::uint16_t>(o, "vendorId");
    h.productId = Number<std::uint16_t>(o, "productId");
    h.versionNumber = Number<std::uint16_t>(o, "versionNumber", h.versionNumber);
    h.usagePage = Number<std::uint16_t>(o, "usagePage");
    h.usage = Number<std::uint16_t>(o, "usage");
    h.featureValues = List(o, "featureValues", false, 0,
                           [&](const std::string& p, const json& e) { return ReadFeatureValue(r, p, e); });
    h.systemOwned = Flag(o, "systemOwned", false);
    if (const json* fw = o.Find("firmware"); fw && !fw->is_null()) h.firmware = ReadFirmware(r, o.Path("firmware"), *fw);
    return h;
}

DeviceSpec ReadDevice(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer, {"description", "hardwareIds", "manufacturer"});
    DeviceSpec d;
    d.description = Text(o, "description", true);
    d.hardwareIds = HardwareIds(o);
    d.manufacturer = Text(o, "manufacturer", true);
    return d;
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

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

}  // namespace

LaptopSpec LoadLaptopFile(const std::string& path) {
    std::string error;
    const std::string bytes = ReadBytes(path, &error);
    if (!error.empty()) throw LaptopFileError(path + ": expected a readable laptop file, got " + error);

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
        throw LaptopFileError(path + ":" + std::to_string(line) + ": " + recorder.error);
    }
    const json doc = json::parse(bytes);
    const Reader r(path, recorder.lines);

    const Object top(r, doc, "",
                     {"name", "description", "windows", "hid", "mice", "softwareComponent", "registryFile"});
    LaptopSpec spec;
    spec.file = path;
    spec.name = top.Find("name") ? Narrow(top, "name") : Stem(path);
    spec.description = Narrow(top, "description");
    spec.windows = ReadWindows(r, top);
    spec.hid = List(top, "hid", true, 0, [&](const std::string& p, const json& e) { return ReadHid(r, p, e); });
    for (std::size_t i = 0; i < spec.hid.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (spec.hid[i].name == spec.hid[j].name)
                r.Fail("/hid/" + std::to_string(i) + "/name", "a name no other collection has",
                       "\"" + spec.hid[i].name + "\", the name of /hid/" + std::to_string(j));
    spec.mice = List(top, "mice", true, 0, [&](const std::string& p, const json& e) { return ReadDevice(r, p, e); });
    if (const json* c = top.Find("softwareComponent"); c && !c->is_null())
        spec.softwareComponent = ReadDevice(r, top.Path("softwareComponent"), *c);

    if (top.Find("registryFile")) {
        const std::string name = Narrow(top, "registryFile");
        std::filesystem::path reg(name);
        if (reg.is_relative()) reg = std::filesystem::path(path).parent_path() / reg;
        spec.registryFile = reg.string();
        const std::string regBytes = ReadBytes(spec.registryFile, &error);
        if (!error.empty())
            r.Fail("/registryFile", "a readable .reg file", "\"" + name + "\" (" + spec.registryFile + ": " + error + ")");
        try {
            spec.registryText = DecodeRegFile(regBytes, spec.registryFile);
            spec.registry = ParseRegText(spec.registryText, spec.registryFile);
        } catch (const RegTextError& e) {
            throw LaptopFileError(std::string(e.what()) + " (the registryFile of " + path + ")");
        }
    }
    return spec;
}

std::string LaptopsDir() {
    if (const char* dir = std::getenv("TAVO_LAPTOPS_DIR"); dir && *dir) return dir;
    std::string dir = TAVO_LAPTOPS_SOURCE_DIR;
#ifdef _WIN32
    // A Windows build of the test tools runs under Wine, whose drive Z: is the Unix root.
    if (!dir.empty() && dir.front() == '/') dir = "Z:" + dir;
#endif
    return dir;
}

std::string FindLaptopFile(const std::string& nameOrPath) {
    const bool isPath = nameOrPath.find_first_of("/\\") != std::string::npos ||
                        (nameOrPath.size() > 5 && nameOrPath.ends_with(".json"));
    if (isPath) return nameOrPath;
    return (std::filesystem::path(LaptopsDir()) / (nameOrPath + ".json")).string();
}

std::vector<std::string> LaptopFileNames(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

WindowsSpec WindowsByName(int version) {
    // Windows 11 still calls itself "Windows 10" in ProductName; only the build tells them apart.
    if (version == 10) return {L"Windows 10 Pro", L"2009", L"19045", 10, 0, 3803};
    if (version == 11) return {L"Windows 10 Pro", L"2009", L"22631", 10, 0, 2861};
    throw std::invalid_argument("WindowsByName: 10 or 11, not " + std::to_string(version));
}

const HidSpec& HidNamed(const LaptopSpec& laptop, std::string_view name) {
    for (const auto& h : laptop.hid)
        if (h.name == name) return h;
    throw LaptopFileError(laptop.file + ": expected a collection named \"" + std::string(name) + "\" in /hid, got none");
}

}  // namespace tavo::laptops
