#include "laptops/laptop_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "laptops/json_reader.h"

#ifndef TAVO_LAPTOPS_SOURCE_DIR
#define TAVO_LAPTOPS_SOURCE_DIR "laptops"
#endif

namespace tavo::laptops {

namespace {

using namespace tavo::json_reader;

std::wstring Text(const Object& o, const std::string& field, bool allowEmpty = false,
                  std::optional<std::wstring> fallback = std::nullopt) {
    return WideText(o, field, allowEmpty, std::move(fallback));
}
std::wstring Text(const Reader& r, const std::string& pointer, const json& v, bool allowEmpty) {
    return WideText(r, pointer, v, allowEmpty);
}
std::string Narrow(const Object& o, const std::string& field) { return NarrowText(o, field); }

std::vector<std::wstring> HardwareIds(const Object& o) {
    return List(o, "hardwareIds", true, 1, [&](const std::string& p, const json& v) { return Text(o.reader(), p, v, false); });
}

WindowsSheet ReadWindows(const Reader& r, const Object& top) {
    const std::string pointer = top.Path("windows");
    const json& v = top.Need("windows", "\"10\", \"11\" or an object");
    if (v.is_string() || v.is_number_integer()) {
        const std::string name = v.is_string() ? v.get<std::string>() : std::to_string(v.get<std::int64_t>());
        if (name == "10") return WindowsByName(10);
        if (name == "11") return WindowsByName(11);
        r.Fail(pointer, "\"10\", \"11\" or an object {productName, releaseId, currentBuild, major, minor, ubr}", v);
    }
    const Object o(r, v, pointer, {"productName", "releaseId", "currentBuild", "major", "minor", "ubr"});
    WindowsSheet w;
    w.productName = Text(o, "productName");
    w.releaseId = Text(o, "releaseId");
    w.currentBuild = Text(o, "currentBuild");
    w.major = Number<std::uint32_t>(o, "major");
    w.minor = Number<std::uint32_t>(o, "minor");
    w.ubr = Number<std::uint32_t>(o, "ubr");
    return w;
}

FeatureValueSheet ReadFeatureValue(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer,
                   {"reportId", "usagePage", "usage", "bitSize", "reportCount", "logicalMin", "logicalMax",
                    "physicalMin", "physicalMax"});
    FeatureValueSheet f;
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

FirmwareSheet ReadFirmware(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer, {"functions", "refused"});
    FirmwareSheet fw;
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

HidSheet ReadHid(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer,
                   {"name", "path", "hardwareIds", "description", "vendorId", "productId", "versionNumber", "usagePage",
                    "usage", "featureValues", "systemOwned", "firmware"});
    HidSheet h;
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

DeviceSheet ReadDevice(const Reader& r, const std::string& pointer, const json& v) {
    const Object o(r, v, pointer, {"description", "hardwareIds", "manufacturer"});
    DeviceSheet d;
    d.description = Text(o, "description", true);
    d.hardwareIds = HardwareIds(o);
    d.manufacturer = Text(o, "manufacturer", true);
    return d;
}

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

LaptopSheet ReadLaptopFile(const std::string& path) {
    const Document doc = ReadJsonFile(path, "laptop file");
    const Reader r(doc);

    const Object top(r, doc.value, "",
                     {"name", "description", "windows", "hid", "mice", "softwareComponent", "registryFile"});
    LaptopSheet sheet;
    sheet.file = path;
    sheet.name = top.Find("name") ? Narrow(top, "name") : Stem(path);
    sheet.description = Narrow(top, "description");
    sheet.windows = ReadWindows(r, top);
    sheet.hid = List(top, "hid", true, 0, [&](const std::string& p, const json& e) { return ReadHid(r, p, e); });
    for (std::size_t i = 0; i < sheet.hid.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (sheet.hid[i].name == sheet.hid[j].name)
                r.Fail("/hid/" + std::to_string(i) + "/name", "a name no other collection has",
                       "\"" + sheet.hid[i].name + "\", the name of /hid/" + std::to_string(j));
    sheet.mice = List(top, "mice", true, 0, [&](const std::string& p, const json& e) { return ReadDevice(r, p, e); });
    if (const json* c = top.Find("softwareComponent"); c && !c->is_null())
        sheet.softwareComponent = ReadDevice(r, top.Path("softwareComponent"), *c);

    if (top.Find("registryFile")) {
        const std::string name = Narrow(top, "registryFile");
        std::filesystem::path reg(name);
        if (reg.is_relative()) reg = std::filesystem::path(path).parent_path() / reg;
        sheet.registryFile = reg.string();
        std::string error;
        const std::string regBytes = ReadBytes(sheet.registryFile, &error);
        if (!error.empty())
            r.Fail("/registryFile", "a readable .reg file", "\"" + name + "\" (" + sheet.registryFile + ": " + error + ")");
        try {
            sheet.registryText = DecodeRegFile(regBytes, sheet.registryFile);
            sheet.registry = ParseRegText(sheet.registryText, sheet.registryFile);
        } catch (const RegTextError& e) {
            throw LaptopFileError(std::string(e.what()) + " (the registryFile of " + path + ")");
        }
    }
    return sheet;
}

}  // namespace

LaptopSheet LoadLaptopFile(const std::string& path) {
    try {
        return ReadLaptopFile(path);
    } catch (const LaptopFileError&) {
        throw;
    } catch (const JsonFileError& e) {
        throw LaptopFileError(e.what());
    }
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

WindowsSheet WindowsByName(int version) {
    // Windows 11 still calls itself "Windows 10" in ProductName; only the build tells them apart.
    if (version == 10) return {L"Windows 10 Pro", L"2009", L"19045", 10, 0, 3803};
    if (version == 11) return {L"Windows 10 Pro", L"2009", L"22631", 10, 0, 2861};
    throw std::invalid_argument("WindowsByName: 10 or 11, not " + std::to_string(version));
}

const HidSheet& HidNamed(const LaptopSheet& laptop, std::string_view name) {
    for (const auto& h : laptop.hid)
        if (h.name == name) return h;
    throw LaptopFileError(laptop.file + ": expected a collection named \"" + std::string(name) + "\" in /hid, got none");
}

}  // namespace tavo::laptops
