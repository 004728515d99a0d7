// What the API's route groups share: the refusal that becomes a 4xx answer, JSON answers, and the
// readers of query values and JSON bodies that refuse what does not fit.
#pragma once
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "api.h"

namespace app::view {

// A request the API cannot take; becomes a 4xx response.
struct Refused : std::runtime_error {
    Refused(int status, const std::string& why) : std::runtime_error(why), status(status) {}
    int status;
};

// Names and paths from scenes may not be UTF-8: such bytes become U+FFFD rather than a failed answer.
Response Json(const nlohmann::json& j, int status = 200);
Response Error(int status, const std::string& why);
std::string Lookup(const std::map<std::string, std::string>& m, const std::string& key);
int64_t WholeNumber(const std::string& text, const std::string& name, int64_t low, int64_t high);
nlohmann::json Body(const Request& r);
const nlohmann::json& Field(const nlohmann::json& j, const char* key);
int IntField(const nlohmann::json& j, const char* key);
bool BoolField(const nlohmann::json& j, const char* key);
double NumberField(const nlohmann::json& j, const char* key);

} // namespace app::view
