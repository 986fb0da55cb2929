#include "scenario_file.h"

#include <nlohmann/json.hpp>

namespace tarvo::sim {

namespace {

using nlohmann::json;

Expected<std::string, std::string> substitute(std::string text,
                                              const std::map<std::string, std::string>& defines) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("${", from)) != std::string::npos;) {
        const std::size_t end = text.find('}', at);
        if (end == std::string::npos) return unexpected(std::string("an unclosed ${ in the scenario"));
        const std::string name = text.substr(at + 2, end - at - 2);
        const auto value = defines.find(name);
        if (value == defines.end()) return unexpected("no value for ${" + name + "}");
        out.append(text, from, at - from).append(value->second);
        from = end + 1;
    }
    out.append(text, from);
    return out;
}

// One phase; `body` is the previous phase's answer and becomes this one's.
// Every answer of the phase waits `delay` before its head.
Expected<ScenarioPhase, std::string> read_phase(const json& phase, const std::string& code,
                                                std::chrono::milliseconds delay, json& body) {
    ScenarioPhase out;
    const long after = phase.value("after_s", 0L);
    if (after < 0) return unexpected(std::string("a phase starts before 0 s"));
    out.after = std::chrono::seconds(after);
    out.note = phase.value("note", std::string());
    const json sync = phase.value("sync", json::object());
    if (sync.contains("body")) body = sync["body"];
    if (sync.contains("patch")) body.merge_patch(sync["patch"]);
    if (body.is_null()) return unexpected(std::string("a phase without a sync answer"));
    out.scenario.status = {200, phase.value("status_body", std::string(R"({"status":"ok"})"))};
    // Other codes keep the default refusal.
    out.scenario.sync[code] = {sync.value("status", 200), body.dump()};
    for (Answer* answer : {&out.scenario.status, &out.scenario.sync[code], &out.scenario.sync_unknown_code})
        answer->delay_before_head = delay;
    return out;
}

}  // namespace

Expected<ScenarioFile, std::string> read_scenario_file(const std::string& text,
                                                       const std::map<std::string, std::string>& defines) {
    const auto substituted = substitute(text, defines);
    if (!substituted) return unexpected(substituted.error());
    const json file = json::parse(*substituted, nullptr, false);
    if (file.is_discarded() || !file.is_object())
        return unexpected(std::string("the scenario is not a JSON object"));

    ScenarioFile out;
    try {
        out.description = file.value("description", std::string());
        out.code = file.at("code").get<std::string>();
        out.reachable = file.value("reachable", true);
        const long delay = file.value("answer_delay_ms", 0L);
        if (delay < 0) return unexpected(std::string("a negative answer delay"));
        json body;  // carried from phase to phase, so a patch builds on the last answer
        for (const json& phase : file.value("phases", json::array())) {
            auto read = read_phase(phase, out.code, std::chrono::milliseconds(delay), body);
            if (!read) return unexpected(read.error());
            if (out.phases.empty() ? read->after.count() != 0 : read->after <= out.phases.back().after)
                return unexpected(std::string("the phases must start at 0 s and follow each other in time"));
            out.phases.push_back(std::move(*read));
        }
    } catch (const json::exception& e) {
        return unexpected(std::string("the scenario has a field of the wrong kind: ") + e.what());
    }
    if (out.reachable && out.phases.empty())
        return unexpected(std::string("a reachable orchestrator needs a phase"));
    return out;
}

const ScenarioPhase& phase_at(const ScenarioFile& file, std::chrono::steady_clock::duration elapsed) {
    std::size_t in_force = 0;
    for (std::size_t i = 1; i < file.phases.size(); ++i)
        if (file.phases[i].after <= elapsed) in_force = i;
    return file.phases[in_force];
}

}  // namespace tarvo::sim
