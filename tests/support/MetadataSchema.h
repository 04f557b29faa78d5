#pragma once
// NAME.json read back and held against the schema the README documents: its keys are the README table's
// keys, and each value has the documented type.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

// The parsed file; throws nlohmann::json::exception when it is not JSON.
nlohmann::json ReadMetadata(const std::filesystem::path& path);

// What in `metadata` differs from the documented schema; empty when nothing does.
std::vector<std::string> MetadataSchemaErrors(const nlohmann::json& metadata);

// A time's capture-clock reading in seconds.
double MonotonicSeconds(const nlohmann::json& time);
