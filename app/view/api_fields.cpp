#include "api_fields.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace app::view {
namespace {
constexpr size_t kMaxBody = 64 * 1024;
} // namespace

Response Json(const nlohmann::json& j, int status) {
    return {status, "application/json", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}
Response Error(int status, const std::string& why) { return Json({{"error", why}}, status); }

std::string Lookup(const std::map<std::string, std::string>& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? "" : it->second;
}

int64_t WholeNumber(const std::string& text, const std::string& name, int64_t low, int64_t high) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low || v > high)
        throw Refused(400, name + " must be a whole number from " + std::to_string(low) + " to " +
                               std::to_string(high));
    return v;
}

nlohmann::json Body(const Request& r) {
    if (r.body.size() > kMaxBody) throw Refused(413, "the body is larger than 64 KiB");
    nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw Refused(400, "the body must be a JSON object");
    return j;
}

const nlohmann::json& Field(const nlohmann::json& j, const char* key) {
    if (!j.contains(key)) throw Refused(400, std::string("\"") + key + "\" is missing");
    return j.at(key);
}

int IntField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_number_integer() || v.get<int64_t>() < std::numeric_limits<int>::min() ||
        v.get<int64_t>() > std::numeric_limits<int>::max())
        throw Refused(400, std::string("\"") + key + "\" must be a whole number");
    return v.get<int>();
}

bool BoolField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_boolean()) throw Refused(400, std::string("\"") + key + "\" must be true or false");
    return v.get<bool>();
}

double NumberField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_number() || !std::isfinite(v.get<double>()))
        throw Refused(400, std::string("\"") + key + "\" must be a number");
    return v.get<double>();
}

} // namespace app::view
