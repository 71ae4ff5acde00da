// The laptop files and the .reg parser: the shipped files load to the laptops the tests were
// written against; every malformed file is refused naming the file, the line or field and
// what was expected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "laptops/laptop_file.h"
#include "laptops/laptops.h"
#include "platform/reg_text.h"
#include "platform/sim/machine.h"

namespace tavo::laptops {
namespace {

namespace fs = std::filesystem;

// A registry's values by place: their type and bytes.
using Registry = std::map<std::wstring, std::pair<win::DWORD, std::vector<win::BYTE>>>;
Registry Values(const sim::Machine& machine) {
    Registry out;
    for (const auto& [place, v] : machine.registry.Snapshot()) out[place] = {v.type, v.data};
    return out;
}
using Kind = RegOperation::Kind;

// ---- the .reg parser -----------------------------------------------------------------------

RegOperation Op(Kind kind, std::wstring key, std::wstring name = L"", std::uint32_t type = 0, std::wstring text = L"",
                std::vector<std::uint8_t> data = {}, int line = 0) {
    const bool quoted = type == 1 && data.empty();
    return RegOperation{kind, std::move(key), std::move(name), type, quoted, std::move(text), std::move(data), line};
}

TEST(RegText, ReadsWhatTheRegistryEditorWrites) {
    const auto ops = ParseRegText(L"Windows Registry Editor Version 5.00\r\n"
                                  L"\r\n"
                                  L"; the driver's key\r\n"
                                  L"[HKEY_LOCAL_MACHINE\\System\\T]\r\n"
                                  L"\"S\"=\"C:\\\\a \\\"b\\\"\"\r\n"
                                  L"@=dword:1f\r\n"
                                  L"\"Blob\"=hex:01,02,\\\r\n"
                                  L"  ff\r\n"
                                  L"\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                                  L"\"Gone\"=-\r\n"
                                  L"[-HKLM\\System\\T\\Old]\r\n",
                                  "t.reg");
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\System\\T";
    const std::vector<RegOperation> expected = {
        Op(Kind::CreateKey, key, L"", 0, L"", {}, 4),
        Op(Kind::SetValue, key, L"S", 1, L"C:\\a \"b\"", {}, 5),
        Op(Kind::SetValue, key, L"", 4, L"", {0x1f, 0, 0, 0}, 6),
        Op(Kind::SetValue, key, L"Blob", 3, L"", {1, 2, 0xff}, 7),
        Op(Kind::SetValue, key, L"Q", 0xb, L"", {1, 0, 0, 0, 0, 0, 0, 0}, 9),
        Op(Kind::DeleteValue, key, L"Gone", 0, L"", {}, 10),
        Op(Kind::DeleteKey, L"HKLM\\System\\T\\Old", L"", 0, L"", {}, 11),
    };
    EXPECT_EQ(ops, expected);
    EXPECT_EQ(RegRootName(L"hkcu\\Software"), L"HKEY_CURRENT_USER");
    EXPECT_TRUE(ParseRegText(L"", "empty.reg").empty());
}

TEST(RegText, MalformedTextIsRefusedWithItsLineAndWhatWasExpected) {
    struct Case {
        const char* what;
        const wchar_t* text;
        const char* message;  // what() exactly
    } cases[] = {
        {"a value before any key", L"\n\"A\"=dword:1\n",
         "x.reg:2: expected a key section [ROOT\\path] before the first value, got \"\"A\"=dword:1\""},
        {"a value under a deleted key", L"[-HKLM\\A]\n\"A\"=dword:1\n",
         "x.reg:2: expected a key section [ROOT\\path] before values (a deleted key takes none), got \"\"A\"=dword:1\""},
        {"an unknown root", L"[HKEY_NOWHERE\\A]\n",
         "x.reg:1: expected a key path starting with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or "
         "HKEY_USERS (or HKLM, HKCU, HKCR, HKU), got \"HKEY_NOWHERE\\A\""},
        {"an unclosed key", L"[HKLM\\A\n", "x.reg:1: expected ']' closing the key name, got \"[HKLM\\A\""},
        {"text after the key", L"[HKLM\\A] x\n", "x.reg:1: expected nothing after the key's ']', got \"x\""},
        {"a dword of 9 digits", L"[HKLM\\A]\n\"A\"=dword:123456789\n",
         "x.reg:2: expected dword:XXXXXXXX (1 to 8 hex digits), got \"dword:123456789\""},
        {"a dword that is not hex", L"[HKLM\\A]\n\n\"A\"=dword:12g\n",
         "x.reg:3: expected dword:XXXXXXXX (1 to 8 hex digits), got \"dword:12g\""},
        {"a bad byte in a continued list", L"[HKLM\\A]\n\"A\"=hex:01,\\\n  0x2\n",
         "x.reg:2: expected bytes as two hex digits separated by commas (01,02,ff), got \"0x2\""},
        {"an unterminated string", L"[HKLM\\A]\n\"A\"=\"text\n",
         "x.reg:2: expected a closing '\"' after the string, got \"\"text\""},
        {"an unknown escape", L"[HKLM\\A]\n\"A\"=\"a\\nb\"\n",
         "x.reg:2: expected \\\\ or \\\" after a backslash in the string, got \"\\nb\"\""},
        {"no '='", L"[HKLM\\A]\n\"A\" dword:1\n", "x.reg:2: expected '=' after the value's name, got \"dword:1\""},
        {"an unknown type", L"[HKLM\\A]\n\"A\"=qword:1\n",
         "x.reg:2: expected a value: \"text\", dword:XXXXXXXX, hex:bytes, hex(TYPE):bytes or - to delete, got "
         "\"qword:1\""},
        {"a stray line", L"[HKLM\\A]\nA=1\n",
         "x.reg:2: expected a key section [ROOT\\path], a value \"name\"=... or @=..., or a comment ';', got \"A=1\""},
        {"the header later on", L"[HKLM\\A]\nREGEDIT4\n",
         "x.reg:2: expected a key section [ROOT\\path], a value \"name\"=... or @=..., or a comment ';', got "
         "\"REGEDIT4\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            ParseRegText(c.text, "x.reg");
            ADD_FAILURE() << "accepted";
        } catch (const RegTextError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(RegText, FilesAreUtf8OrUtf16WithTheirMark) {
    EXPECT_EQ(DecodeRegFile("\xEF\xBB\xBF[HKLM\\\xC3\xA9]", "a.reg"), L"[HKLM\\\u00E9]");
    EXPECT_EQ(DecodeRegFile(std::string("\xFF\xFE[\0H\0", 6), "a.reg"), L"[H");
    try {
        DecodeRegFile("[HKLM\\\xE9]", "a.reg");
        ADD_FAILURE() << "accepted";
    } catch (const RegTextError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "a.reg: expected UTF-8 text, or UTF-16LE text with its byte-order mark, got byte 0xE9 at offset 6");
    }
}

// ---- the shipped laptop files ---------------------------------------------------------------

TEST(LaptopFile, ShippedFilesAreTheLaptopsTheTestsKnow) {
    const std::map<std::uint16_t, std::uint16_t> forcepadTable = {
        {0x0101, 0x0001}, {0x0104, 0x0001}, {0x0105, 0x1E14}, {0x0106, 0x0C80}, {0x0107, 0x0800},
        {0x0108, 0x0303}, {0x0365, 0x8000}, {0x03A1, 0x0307}, {0x03A2, 0x00A0}, {0x03A3, 0x0080},
        {0x03A4, 0x003C}, {0x03A9, 0x006E}, {0x03AA, 0x0042}, {0x03AB, 0x4040}};
    const FeatureValueSheet vendorReport{0x0D, 0xFF00, 0x0005, 16, 2, 0, 0xFFFF, 0, 0};
    struct Case {
        const char* name;
        int windows;
        std::vector<std::string> hid;
        std::vector<std::wstring> mice;
    } cases[] = {
        {"forcepad", 11, {"keyboard", "pointer", "vendor"},
         {L"HID-compliant mouse", L"USB Optical Mouse", L"TAVO VadavAredu Device"}},
        {"touchpad", 10, {"keyboard", "pointer", "vendor"}, {L"HID-compliant mouse"}},
        {"two-pads", 10, {"keyboard", "pointer", "vendor", "second"}, {L"HID-compliant mouse"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LaptopSheet l = LoadLaptopFile(FindLaptopFile(c.name));
        EXPECT_EQ(l.name, c.name);
        EXPECT_FALSE(l.description.empty());
        EXPECT_EQ(l.windows, WindowsByName(c.windows));
        std::vector<std::string> hid;
        for (const auto& h : l.hid) hid.push_back(h.name);
        EXPECT_EQ(hid, c.hid);
        std::vector<std::wstring> mice;
        for (const auto& m : l.mice) mice.push_back(m.description);
        EXPECT_EQ(mice, c.mice);

        const HidSheet& keyboard = HidNamed(l, "keyboard");
        EXPECT_EQ(keyboard.path,
                  L"\\\\?\\HID#VEN_KBDX&DEV_0100&Col01#5&1c2d3e4f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
        EXPECT_EQ(keyboard.vendorId, 0x048D);
        EXPECT_TRUE(keyboard.systemOwned);
        EXPECT_TRUE(HidNamed(l, "pointer").systemOwned);
        EXPECT_FALSE(keyboard.firmware);
        const HidSheet& vendor = HidNamed(l, "vendor");
        EXPECT_EQ(vendor.hardwareIds, (std::vector<std::wstring>{L"HID\\VEN_TAVO&DEV_0C5E&Col02",
                                                                  L"HID\\VEN_TAVO&UP:FF00_U:0001"}));
        EXPECT_EQ(vendor.description, L"HID-compliant vendor-defined device");
        EXPECT_EQ(vendor.vendorId, 0x2C7E);
        EXPECT_EQ(vendor.productId, 0x4A51);
        EXPECT_EQ(vendor.versionNumber, 0x0100);
        EXPECT_EQ(vendor.usagePage, 0xFF00);
        EXPECT_EQ(vendor.usage, 0x0001);
        EXPECT_FALSE(vendor.systemOwned);
        EXPECT_EQ(vendor.featureValues, std::vector<FeatureValueSheet>{vendorReport});
        ASSERT_TRUE(vendor.firmware);
        EXPECT_EQ(vendor.firmware->functions, forcepadTable);
        EXPECT_TRUE(vendor.firmware->refused.empty());

        ASSERT_TRUE(l.softwareComponent);
        EXPECT_EQ(l.softwareComponent->hardwareIds[0], L"SWC\\VAR_IRORI_VOV21&SUBSYS_0001");
        EXPECT_EQ(l.softwareComponent->manufacturer, L"TAVO Inc.");
        EXPECT_EQ(fs::path(l.registryFile).filename(), "driver-package.reg");
        ASSERT_EQ(l.registry.size(), 8u);
        EXPECT_EQ(l.registry[3].name, L"PalmDefaultOption");
        EXPECT_EQ(l.registry[3].data, (std::vector<std::uint8_t>{2, 0, 0, 0}));
    }
    const LaptopSheet two = LoadLaptopFile(FindLaptopFile("two-pads"));
    const HidSheet& second = HidNamed(two, "second");
    EXPECT_EQ(second.productId, 0x4A52);
    EXPECT_EQ(second.featureValues[0].reportId, 0x0D);
    EXPECT_EQ(second.featureValues[0].logicalMax, 0x7FFF);
    EXPECT_EQ(second.firmware->functions, forcepadTable);
    const LaptopSheet forcepad = LoadLaptopFile(FindLaptopFile("forcepad"));
    EXPECT_EQ(forcepad.mice[2].hardwareIds, std::vector<std::wstring>{L"ACPI\\VEN_TAVO&DEV_0C60"});
    EXPECT_EQ(forcepad.mice[2].manufacturer, L"TAVO");
    EXPECT_EQ(forcepad.mice[0].manufacturer, L"Microsoft");
}

TEST(LaptopFile, NamesArePathsOrFilesOfTheLaptopsFolder) {
    const std::string dir = LaptopsDir();
    EXPECT_EQ(FindLaptopFile("forcepad"), (fs::path(dir) / "forcepad.json").string());
    EXPECT_EQ(FindLaptopFile("./mine.json"), "./mine.json");
    EXPECT_EQ(FindLaptopFile("mine.json"), "mine.json");
    EXPECT_EQ(LaptopFileNames(), (std::vector<std::string>{"forcepad", "touchpad", "two-pads"}));
    // TAVO_LAPTOPS_DIR names another folder.
    const char* was = std::getenv("TAVO_LAPTOPS_DIR");
    const std::string saved = was ? was : "";
    ::setenv("TAVO_LAPTOPS_DIR", "/elsewhere", 1);
    EXPECT_EQ(FindLaptopFile("forcepad"), "/elsewhere/forcepad.json");
    if (was)
        ::setenv("TAVO_LAPTOPS_DIR", saved.c_str(), 1);
    else
        ::unsetenv("TAVO_LAPTOPS_DIR");
    EXPECT_THROW(WindowsByName(12), std::invalid_argument);
    EXPECT_THROW(HidNamed(LoadLaptopFile(FindLaptopFile("touchpad")), "second"), LaptopFileError);
}

// ---- laptop files of a test's own -------------------------------------------------------------

class LaptopFileDir : public ::testing::Test {
protected:
    LaptopFileDir() {
        dir_ = fs::temp_directory_path() /
               ("tavo-laptops-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    ~LaptopFileDir() override { fs::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) const {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return (dir_ / name).string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

// A small laptop; each line numbered as a message counts it.
const std::string kSmall =
    "{\n"                                                                                             // 1
    "  \"description\": \"a test laptop\",\n"                                                        // 2
    "  \"windows\": \"10\",\n"                                                                        // 3
    "  \"hid\": [{\n"                                                                                 // 4
    "    \"name\": \"pad\", \"path\": \"\\\\\\\\?\\\\HID#PAD\", \"hardwareIds\": [\"HID\\\\PAD\"],\n"   // 5
    "    \"vendorId\": \"0x2C7E\", \"productId\": 19025, \"usagePage\": \"0xFF00\", \"usage\": 1,\n"     // 6
    "    \"featureValues\": [{\"reportId\": 13, \"usagePage\": \"0xFF00\", \"usage\": 5, \"bitSize\": 16,\n"  // 7
    "                       \"reportCount\": 2, \"logicalMin\": \"-0x10\", \"physicalMax\": 300}],\n"  // 8
    "    \"firmware\": {\"functions\": {\"0x0104\": 1}, \"refused\": [\"0x03AB\"]}\n"                   // 9
    "  }],\n"                                                                                         // 10
    "  \"mice\": [{\"description\": \"\", \"hardwareIds\": [\"ACPI\\\\M\"], \"manufacturer\": \"TAVO\"}],\n"  // 11
    "  \"registryFile\": \"small.reg\"\n"                                                             // 12
    "}\n";                                                                                            // 13
const std::string kSmallReg = "[HKLM\\Software\\T]\n\"A\"=dword:1\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("the case's text is not in the file: " + from);
    return text.replace(at, from.size(), to);
}

TEST_F(LaptopFileDir, ASmallFileLoadsWithItsDefaults) {
    Write("small.reg", kSmallReg);
    const LaptopSheet l = LoadLaptopFile(Write("small.json", kSmall));
    EXPECT_EQ(l.name, "small");
    EXPECT_EQ(l.file, Path("small.json"));
    ASSERT_EQ(l.hid.size(), 1u);
    const HidSheet& h = l.hid[0];
    EXPECT_EQ(h.path, L"\\\\?\\HID#PAD");
    EXPECT_EQ(h.productId, 0x4A51);
    EXPECT_EQ(h.description, L"HID-compliant vendor-defined device");
    EXPECT_EQ(h.versionNumber, 0x0100);
    EXPECT_FALSE(h.systemOwned);
    EXPECT_EQ(h.featureValues, (std::vector<FeatureValueSheet>{{13, 0xFF00, 5, 16, 2, -16, 0xFFFF, 0, 300}}));
    EXPECT_EQ(h.firmware->functions, (std::map<std::uint16_t, std::uint16_t>{{0x0104, 1}}));
    EXPECT_EQ(h.firmware->refused, std::set<std::uint16_t>{0x03AB});
    EXPECT_EQ(l.mice[0].description, L"");
    EXPECT_FALSE(l.softwareComponent);
    EXPECT_EQ(l.registryText, L"[HKLM\\Software\\T]\n\"A\"=dword:1\n");
    ASSERT_EQ(l.registry.size(), 2u);

    // The Windows version as an object, a name of its own, no registry.
    std::string other = Replaced(kSmall, "\"windows\": \"10\"",
                                 "\"name\": \"mine\", \"windows\": {\"productName\": \"Windows 10 Home\", \"releaseId\": "
                                 "\"2009\", \"currentBuild\": \"22000\", \"major\": 10, \"minor\": 0, \"ubr\": \"0x10\"}");
    other = Replaced(other, ",\n  \"registryFile\": \"small.reg\"", "");
    const LaptopSheet o = LoadLaptopFile(Write("other.json", other));
    EXPECT_EQ(o.name, "mine");
    EXPECT_EQ(o.windows, (WindowsSheet{L"Windows 10 Home", L"2009", L"22000", 10, 0, 16}));
    EXPECT_TRUE(o.registryFile.empty());
    EXPECT_TRUE(o.registry.empty());
}


// Every way a file can be wrong, one case each: refused with the file, the line (or the
// field) and what was expected; nothing returned, and on the simulator the machine as it was.
struct BadFile {
    const char* what;
    std::string json;  // the laptop file (empty: none is written)
    std::string reg;   // small.reg beside it (empty: none is written)
    std::string message;  // what(), with DIR/ standing for the test's folder
};

std::vector<BadFile> BadFiles() {
    const std::string& f = kSmall;
    return {
        {"no file", "", kSmallReg, "DIR/laptop.json: expected a readable laptop file, got No such file or directory"},
        {"empty", " ", kSmallReg,
         "DIR/laptop.json:1: expected JSON, got syntax error while parsing value - unexpected end of input; expected "
         "'[', '{', or a literal"},
        {"bad JSON: a comma missing", Replaced(f, "\"windows\": \"10\",", "\"windows\": \"10\""), kSmallReg,
         "DIR/laptop.json:4: expected JSON, got syntax error while parsing object - unexpected string literal; "
         "expected '}'"},
        {"not an object", "[]", kSmallReg, "DIR/laptop.json:1: /: expected an object, got []"},
        {"a missing field", Replaced(f, "\"vendorId\": \"0x2C7E\", ", ""), kSmallReg,
         "DIR/laptop.json:4: /hid/0/vendorId: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got nothing (the field is missing)"},
        {"a mistyped field", Replaced(f, "\"usage\": 1,", "\"usage\": \"one\","), kSmallReg,
         "DIR/laptop.json:6: /hid/0/usage: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got \"one\""},
        {"an unknown field", Replaced(f, "\"productId\"", "\"productID\""), kSmallReg,
         "DIR/laptop.json:6: /hid/0/productID: expected one of the fields name, path, hardwareIds, description, "
         "vendorId, productId, versionNumber, usagePage, usage, featureValues, systemOwned, firmware, got an unknown "
         "field \"productID\""},
        {"an unknown field at the top", Replaced(f, "\"windows\"", "\"window\""), kSmallReg,
         "DIR/laptop.json:3: /window: expected one of the fields name, description, windows, hid, mice, "
         "softwareComponent, registryFile, got an unknown field \"window\""},
        {"a field twice", Replaced(f, "\"usage\": 1,", "\"usage\": 1, \"usage\": 2,"), kSmallReg,
         "DIR/laptop.json:6: /hid/0/usage: expected each field once, got \"usage\" a second time"},
        {"a vendor id over 0xFFFF", Replaced(f, "\"0x2C7E\"", "70000"), kSmallReg,
         "DIR/laptop.json:6: /hid/0/vendorId: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got 70000"},
        {"a vendor id over 0xFFFF in hex", Replaced(f, "\"0x2C7E\"", "\"0x12C7E\""), kSmallReg,
         "DIR/laptop.json:6: /hid/0/vendorId: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got \"0x12C7E\""},
        {"a negative product id", Replaced(f, "19025", "-1"), kSmallReg,
         "DIR/laptop.json:6: /hid/0/productId: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got -1"},
        {"a product id with a fraction", Replaced(f, "19025", "19025.5"), kSmallReg,
         "DIR/laptop.json:6: /hid/0/productId: expected a number from 0 to 0xFFFF (a JSON number or a string such as "
         "\"0x2C7E\"), got 19025.5"},
        {"a report id over 0xFF", Replaced(f, "\"reportId\": 13", "\"reportId\": 256"), kSmallReg,
         "DIR/laptop.json:7: /hid/0/featureValues/0/reportId: expected a number from 0 to 0xFF (a JSON number or a "
         "string such as \"0x2C7E\"), got 256"},
        {"a number last on its line", Replaced(f, "\"physicalMax\": 300}]", "\"physicalMax\": 3000000000\n}]"),
         kSmallReg,
         "DIR/laptop.json:8: /hid/0/featureValues/0/physicalMax: expected a number from -2147483648 to 0x7FFFFFFF (a "
         "JSON number or a string such as \"0x2C7E\"), got 3000000000"},
        {"an unknown Windows", Replaced(f, "\"windows\": \"10\"", "\"windows\": \"12\""), kSmallReg,
         "DIR/laptop.json:3: /windows: expected \"10\", \"11\" or an object {productName, releaseId, currentBuild, "
         "major, minor, ubr}, got \"12\""},
        {"a function code that is not hex", Replaced(f, "\"0x0104\": 1", "\"260\": 1"), kSmallReg,
         "DIR/laptop.json:9: /hid/0/firmware/functions/260: expected a function code from 0x0 to 0xFFFF written as "
         "\"0x0101\", got \"260\""},
        {"a function value over 0xFFFF", Replaced(f, "\"0x0104\": 1", "\"0x0104\": \"0x10000\""), kSmallReg,
         "DIR/laptop.json:9: /hid/0/firmware/functions/0x0104: expected a number from 0 to 0xFFFF (a JSON number or a "
         "string such as \"0x2C7E\"), got \"0x10000\""},
        {"no hardware id", Replaced(f, "[\"HID\\\\PAD\"]", "[]"), kSmallReg,
         "DIR/laptop.json:5: /hid/0/hardwareIds: expected an array of at least 1 element(s), got []"},
        {"an empty path", Replaced(f, "\"\\\\\\\\?\\\\HID#PAD\"", "\"\""), kSmallReg,
         "DIR/laptop.json:5: /hid/0/path: expected a string that is not empty, got \"\""},
        {"a flag that is not a boolean", Replaced(f, "\"usage\": 1,", "\"usage\": 1, \"systemOwned\": 1,"), kSmallReg,
         "DIR/laptop.json:6: /hid/0/systemOwned: expected true or false, got 1"},
        {"two collections of one name",
         Replaced(f, "  }],\n  \"mice\"",
                  "  }, {\"name\": \"pad\", \"path\": \"P\", \"hardwareIds\": [\"H\"], \"vendorId\": 1, \"productId\": "
                  "1,\n      \"usagePage\": 1, \"usage\": 1}],\n  \"mice\""),
         kSmallReg, "DIR/laptop.json:10: /hid/1/name: expected a name no other collection has, got \"pad\", the name of /hid/0"},
        {"a mouse without its maker", Replaced(f, ", \"manufacturer\": \"TAVO\"", ""), kSmallReg,
         "DIR/laptop.json:11: /mice/0/manufacturer: expected a string, got nothing (the field is missing)"},
        {"no .reg file", f, "",
         "DIR/laptop.json:12: /registryFile: expected a readable .reg file, got \"small.reg\" (DIR/small.reg: No such "
         "file or directory)"},
        {"a malformed .reg file", f, "[HKLM\\Software\\T]\n\n\"A\"=dword:xyz\n",
         "DIR/small.reg:3: expected dword:XXXXXXXX (1 to 8 hex digits), got \"dword:xyz\" (the registryFile of "
         "DIR/laptop.json)"},
        {"a .reg file that is not text", f, "[HKLM\\\xFF]\n",
         "DIR/small.reg: expected UTF-8 text, or UTF-16LE text with its byte-order mark, got byte 0xFF at offset 6 "
         "(the registryFile of DIR/laptop.json)"},
    };
}

TEST_F(LaptopFileDir, AMalformedFileIsRefusedWithOneClearMessage) {
    for (const BadFile& c : BadFiles()) {
        SCOPED_TRACE(c.what);
        fs::remove(Path("laptop.json"));
        fs::remove(Path("small.reg"));
        if (!c.json.empty()) Write("laptop.json", c.json);
        if (!c.reg.empty()) Write("small.reg", c.reg);
        std::string expected = c.message;
        for (std::size_t at; (at = expected.find("DIR")) != std::string::npos;) expected.replace(at, 3, dir_.string());
        try {
            LoadLaptopFile(Path("laptop.json"));
            ADD_FAILURE() << "accepted";
        } catch (const LaptopFileError& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }

        sim::Machine machine;
        machine.registry.SetDword(L"HKLM\\Software\\Before", L"V", 1);
        const Registry before = Values(machine);
        try {
            BuildLaptopFile(machine, Path("laptop.json"), {.softwareComponent = true, .registry = true});
            ADD_FAILURE() << "built";
        } catch (const LaptopFileError& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
        EXPECT_EQ(Values(machine), before);
        EXPECT_EQ(machine.devices.Add(sim::Device{}), 1u) << "no device was added before";
    }
}

// ---- the files on the simulated machine ------------------------------------------------------

Registry RegistryOf(const std::function<void(sim::Machine&)>& make) {
    sim::Machine machine;
    make(machine);
    return Values(machine);
}

TEST(SimLaptop, TheRegistryIsTheDriverPackagesOnlyWhenAsked) {
    const std::wstring settingsKey = L"HKLM\\System\\CurrentControlSet\\Control\\Brindlex_PTP";
    const auto windowsOnly = RegistryOf([](sim::Machine& m) { sim::SetWindowsVersion(m.registry, ToSim(WindowsByName(11))); });
    // Scenarios that import their own driver package see only it.
    EXPECT_EQ(RegistryOf([](sim::Machine& m) { Build(m, LoadSimLaptop("forcepad")); }), windowsOnly);
    EXPECT_EQ(RegistryOf([](sim::Machine& m) {
                  Build(m, LoadSimLaptop("forcepad"));
                  m.registry.Import(DriverPackageReg(L"0000", 2, 3, 0));
              }),
              RegistryOf([](sim::Machine& m) {
                  sim::SetWindowsVersion(m.registry, ToSim(WindowsByName(11)));
                  m.registry.Import(DriverPackageReg(L"0000", 2, 3, 0));
              }));
    // The file's: the driver package's instance, as the tests' helper writes it, and the settings key.
    EXPECT_EQ(RegistryOf([](sim::Machine& m) { Build(m, LoadSimLaptop("forcepad"), {.registry = true}); }),
              RegistryOf([&](sim::Machine& m) {
                  sim::SetWindowsVersion(m.registry, ToSim(WindowsByName(11)));
                  m.registry.Import(DriverPackageReg(L"0000", 2, 3, 1));
                  m.registry.SetDword(settingsKey, L"AABB", 0);
              }));
}

TEST(SimLaptop, BuildsTheFilesDevicesInOrderWithAFirmwareEach) {
    sim::Machine machine;
    const BuiltLaptop built = Build(machine, LoadSimLaptop("two-pads"), {.softwareComponent = true});
    EXPECT_EQ(built.hidNodes, (std::vector<win::DEVINST>{1, 2, 3, 4}));
    EXPECT_EQ(built.mouseNodes, std::vector<win::DEVINST>{5});
    EXPECT_EQ(built.softwareComponentNode, 6u);
    ASSERT_EQ(built.firmware.size(), 4u);
    EXPECT_FALSE(built.firmware[0] || built.firmware[1]) << "the keyboard and pointer answer no vendor report";
    ASSERT_TRUE(built.firmware[2] && built.firmware[3]);
    EXPECT_NE(built.firmware[2], built.firmware[3]) << "each pad its own";
    EXPECT_EQ(built.Pad(), built.firmware[2]);
    EXPECT_EQ(built.firmware[3]->Values(), ForcepadFunctions());

    // A scenario's own firmware answers behind every pad; nothing of the file is put into it.
    auto own = std::make_shared<sim::TouchpadFirmware>();
    const SimLaptop shared = LoadSimLaptop("two-pads", own);
    EXPECT_EQ(shared.hid[2].firmware, own);
    EXPECT_EQ(shared.hid[3].firmware, own);
    EXPECT_TRUE(own->Values().empty());
    EXPECT_EQ(shared.hid[0].grantableAccess, 0u) << "system-owned";
    EXPECT_EQ(shared.hid[2].grantableAccess, win::GENERIC_READ | win::GENERIC_WRITE);
    ASSERT_TRUE(shared.softwareComponent);
    EXPECT_EQ(shared.softwareComponent->setupClass, kSoftwareComponentClass);
}

}  // namespace
}  // namespace tavo::laptops
