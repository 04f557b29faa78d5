#include "MetadataSchema.h"

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

using nlohmann::json;

// The member `key` of `object`, null when there is none.
json Field(const json& object, const char* key) {
    return object.is_object() && object.contains(key) ? object[key] : json();
}

// The keys of the README's NAME.json table: the backticked names in its first column.
std::set<std::string> DocumentedKeys() {
    std::ifstream in(PYX_README_PATH);
    std::string line;
    while (std::getline(in, line) && line.rfind("### NAME.json", 0) != 0) {
    }
    std::set<std::string> keys;
    const std::regex name("`([a-z_]+)`");
    while (std::getline(in, line) && line.rfind("###", 0) != 0) {
        if (line.rfind("| `", 0) != 0)
            continue;
        const std::string column = line.substr(0, line.find('|', 1));
        for (std::sregex_iterator it(column.begin(), column.end(), name), end; it != end; ++it)
            keys.insert((*it)[1]);
    }
    return keys;
}

class Checker {
public:
    std::vector<std::string> errors;

    void Expect(bool holds, const std::string& where, const std::string& what) {
        if (!holds)
            errors.push_back(where + ": " + what);
    }

    void Keys(const json& object, const std::set<std::string>& keys, const std::string& where) {
        if (!object.is_object())
            return Expect(false, where, "not an object");
        std::set<std::string> present;
        for (const auto& [key, value] : object.items())
            present.insert(key);
        Expect(present == keys, where, "keys " + json(present).dump() + ", documented " + json(keys).dump());
    }

    void Time(const json& time, const std::string& where, bool nullable) {
        if (nullable && time.is_null())
            return;
        Keys(time, {"utc", "monotonic_ns"}, where);
        if (!time.is_object())
            return;
        static const std::regex iso("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");
        Expect(Field(time, "utc").is_string() && std::regex_match(time["utc"].get<std::string>(), iso),
               where + ".utc", "not UTC ISO 8601 with milliseconds");
        Expect(Field(time, "monotonic_ns").is_number_integer(), where + ".monotonic_ns", "not an integer");
    }

    void Encoder(const json& encoder, const std::string& where) {
        if (encoder.is_null())
            return;
        Keys(encoder, {"name", "hardware"}, where);
        Expect(Field(encoder, "name").is_string(), where + ".name", "not a string");
        Expect(Field(encoder, "hardware").is_boolean(), where + ".hardware", "not a boolean");
    }

    void OneOf(const json& value, const std::set<std::string>& allowed, const std::string& where) {
        Expect(value.is_string() && allowed.count(value.get<std::string>()) == 1, where,
               value.dump() + " is not one of " + json(allowed).dump());
    }

    void Count(const json& value, const std::string& where) {
        Expect(value.is_number_unsigned(), where, value.dump() + " is not a count");
    }
};

} // namespace

json ReadMetadata(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return json::parse(text.str());
}

std::vector<std::string> MetadataSchemaErrors(const json& metadata) {
    Checker check;
    const std::set<std::string> documented = DocumentedKeys();
    check.Expect(documented.size() == 14, "README", "documents " + json(documented).dump());
    check.Keys(metadata, documented, "file");
    if (!metadata.is_object())
        return check.errors;
    const auto at = [&](const char* key) {
        return Field(metadata, key);
    };
    check.Expect(at("format_version") == 1, "format_version", at("format_version").dump());
    check.Expect(at("recorder_version").is_string(), "recorder_version", "not a string");
    check.Count(at("pid"), "pid");
    check.OneOf(at("save_reason"), {"event", "process exit", "signal", "export"}, "save_reason");
    check.Time(at("first_picture"), "first_picture", true);
    check.Time(at("last_picture"), "last_picture", true);
    check.Expect(at("captures").is_array(), "captures", "not an array");
    for (std::size_t i = 0; i < at("captures").size(); ++i) {
        const json& capture = metadata["captures"][i];
        const std::string where = "captures[" + std::to_string(i) + "]";
        check.Keys(capture, {"kind", "window_id", "start", "end"}, where);
        check.OneOf(Field(capture, "kind"), {"window", "monitor"}, where + ".kind");
        check.Count(Field(capture, "window_id"), where + ".window_id");
        check.Time(Field(capture, "start"), where + ".start", false);
        check.Time(Field(capture, "end"), where + ".end", false);
    }
    check.Keys(at("frame_size"), {"width", "height"}, "frame_size");
    check.Count(Field(at("frame_size"), "width"), "frame_size.width");
    check.Count(Field(at("frame_size"), "height"), "frame_size.height");
    check.Encoder(at("video_encoder"), "video_encoder");
    check.Encoder(at("audio_encoder"), "audio_encoder");
    check.Count(at("frames_repeated"), "frames_repeated");
    check.Count(at("frames_dropped"), "frames_dropped");
    check.OneOf(at("result"), {"saved", "nothing recorded", "failed"}, "result");
    check.Expect(at("error").is_null() || at("error").is_string(), "error", "neither null nor a string");
    return check.errors;
}

double MonotonicSeconds(const json& time) {
    return double(time.at("monotonic_ns").get<std::int64_t>()) * 1e-9;
}
