// A scenario of the simulated network as a file: the access code it serves,
// whether the orchestrator is reachable at all, and timed phases, each
// replacing the sync answer for that code from a number of seconds after the
// start (sim/scenarios/README.md describes the format).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "test_orchestrator.h"
#include "util/expected.h"

namespace tarvo::sim {

struct ScenarioPhase {
    std::chrono::seconds after{0};  // since the orchestrator started
    std::string note;               // what changes, for the request log
    Scenario scenario;
};

struct ScenarioFile {
    std::string description;
    std::string code;                   // the access code the client is started with
    bool reachable = true;              // false: no orchestrator runs at all
    std::vector<ScenarioPhase> phases;  // ascending `after`, the first at 0 s
};

// Reads a scenario from the file's text. Every "${NAME}" is replaced by the
// value `defines` gives NAME first; one without a value is an error, as are
// malformed JSON, phases out of order and a first phase after 0 s. A phase's
// "sync" gives the answer's status (default 200) and either its whole "body"
// or a "patch" merged into the previous phase's body (JSON merge patch). An
// "answer_delay_ms" holds back every answer (status, sync, refusal) by as long.
Expected<ScenarioFile, std::string> read_scenario_file(const std::string& text,
                                                       const std::map<std::string, std::string>& defines);

// The phase in force `elapsed` after the start: the last one that has begun.
const ScenarioPhase& phase_at(const ScenarioFile& file, std::chrono::steady_clock::duration elapsed);

}  // namespace tarvo::sim
