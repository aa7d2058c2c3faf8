// SPDX-License-Identifier: MIT
// `check --json FILE`: each module's check results as JSON objects, for CI systems that show
// validator results (docs/validator.md, "JSON").
#include <string>

#include "host/check/check.h"
#include "host/isolate/record.h"

namespace sim {

namespace {

const char *verdict_name(const CheckResult &r) {
    switch (r.outcome) {
    case CheckResult::Outcome::Pass: return "pass";
    case CheckResult::Outcome::Fail: return "fail";
    case CheckResult::Outcome::Skip: return "skip";
    }
    return "fail";
}

std::string json_or_null(const std::string &text) { return text.empty() ? std::string("null") : json_string(text); }

// The fields one violation id gives: violation, message, seeds, shrunk.
std::string violation_fields(const CheckResult &r) {
    std::string seeds;
    for (uint64_t s : r.seeds) seeds += (seeds.empty() ? "" : ", ") + std::to_string(s);
    return "\"violation\": " + json_or_null(r.id) + ", \"message\": " + json_string(r.message) + ", \"seeds\": [" +
           seeds + "], \"shrunk\": " + json_or_null(r.shrunk);
}

// "<warning-id>: <message>" as {"id": ..., "message": ...}.
std::string warning_object(const std::string &w) {
    const size_t colon = w.find(": ");
    const std::string id = colon == std::string::npos ? w : w.substr(0, colon);
    const std::string message = colon == std::string::npos ? std::string() : w.substr(colon + 2);
    return "{\"id\": " + json_string(id) + ", \"message\": " + json_string(message) + "}";
}

} // namespace

std::string check_json(const std::string &module, const CheckDef &def, const CheckResult &r) {
    std::string further, warnings;
    for (const CheckResult &f : r.further) further += (further.empty() ? "" : ", ") + ("{" + violation_fields(f) + "}");
    for (const std::string &w : r.warnings) warnings += (warnings.empty() ? "" : ", ") + warning_object(w);
    return "{\"module\": " + json_string(module) + ", \"check\": " + json_string(def.id) + ", \"verdict\": \"" +
           verdict_name(r) + "\", " + violation_fields(r) + ", \"further\": [" + further + "], \"warnings\": [" +
           warnings + "]}";
}

std::string opt_json(CheckOptions &o, const std::string &v) {
    if (v.empty()) return "--json needs a file name";
    o.json = v;
    return std::string();
}

} // namespace sim
