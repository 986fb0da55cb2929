// The simulated network's scenario files: timed phases that build on each
// other, placeholders, their faults, and the shipped scenarios as the client
// itself reads them.
#include "scenario_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "orchestrator/access_code.h"
#include "orchestrator/bootstrap_reader.h"
#include "orchestrator/predicates.h"
#include "util/byte_source.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using sim::read_scenario_file;

const std::map<std::string, std::string> kDefines{
    {"CLIENT_PRIVATE_KEY", "yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk="},
    {"HUB_PUBLIC_KEY", "xTIBA5rboUvnH4htodjb6e697QjLERt1NAB4mZqp8Dg="},
    {"HUB_ENDPOINT", "192.0.2.2:51820"}};

const char* kTimed = R"({
  "code": "ABCD1234EFGH",
  "phases": [
    {"after_s": 0, "note": "runs", "sync": {"body": {"name": "n", "project_enabled": true, "private_key": "${CLIENT_PRIVATE_KEY}"}}},
    {"after_s": 20, "note": "paused", "sync": {"patch": {"project_enabled": false, "reason": "r"}}},
    {"after_s": 40, "note": "refused", "sync": {"status": 403, "patch": {"reason": null}}}
  ]
})";

std::string body_at(const sim::ScenarioFile& file, std::chrono::seconds elapsed) {
    return sim::phase_at(file, elapsed).scenario.sync.at(file.code).body;
}

TEST(ScenarioFile, EachPhaseBuildsOnTheLastAnswerAndTakesOverAtItsTime) {
    const auto file = read_scenario_file(kTimed, kDefines);
    ASSERT_TRUE(file) << file.error();
    EXPECT_EQ(file->code, "ABCD1234EFGH");
    EXPECT_TRUE(file->reachable);
    const std::string running =
        R"({"name":"n","private_key":"yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=","project_enabled":true})";
    const std::string paused = R"({"name":"n","private_key":"yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=",)"
                               R"("project_enabled":false,"reason":"r"})";
    const std::string refused =
        R"({"name":"n","private_key":"yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=","project_enabled":false})";
    const struct {
        std::chrono::seconds elapsed;
        std::string body;
        int status;
        std::string note;
    } cases[] = {{0s, running, 200, "runs"},     {19s, running, 200, "runs"},
                 {20s, paused, 200, "paused"},   {39s, paused, 200, "paused"},
                 {40s, refused, 403, "refused"}, {3600s, refused, 403, "refused"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elapsed.count());
        EXPECT_EQ(body_at(*file, c.elapsed), c.body);
        EXPECT_EQ(sim::phase_at(*file, c.elapsed).scenario.sync.at(file->code).status, c.status);
        EXPECT_EQ(sim::phase_at(*file, c.elapsed).note, c.note);
        // Only the scenario's code is answered; others keep the refusal.
        EXPECT_EQ(sim::phase_at(*file, c.elapsed).scenario.sync.size(), 1u);
    }
}

TEST(ScenarioFile, RefusesWhatWouldServeSomethingElseThanWritten) {
    const struct {
        const char* text;
        std::string error;
    } cases[] = {
        {R"({"code": "X", "phases": [{"sync": {"body": {"k": "${NOPE}"}}}]})", "no value for ${NOPE}"},
        {R"([] ${OPEN)", "an unclosed ${ in the scenario"},
        {R"({"code": "X", "phases": [{"after_s": 5, "sync": {"body": {}}}]})",
         "the phases must start at 0 s and follow each other in time"},
        {R"({"code": "X", "phases": [{"sync": {"body": {}}}, {"after_s": 0, "sync": {"body": {}}}]})",
         "the phases must start at 0 s and follow each other in time"},
        {R"({"code": "X", "phases": [{"sync": {}}]})", "a phase without a sync answer"},
        {R"({"code": "X", "phases": []})", "a reachable orchestrator needs a phase"},
        {R"({"code": "X", "phases": [{"after_s": -1, "sync": {"body": {}}}]})", "a phase starts before 0 s"},
        {R"([1, 2])", "the scenario is not a JSON object"},
        {R"({"code": "X",)", "the scenario is not a JSON object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto file = read_scenario_file(c.text, kDefines);
        ASSERT_FALSE(file);
        EXPECT_EQ(file.error(), c.error);
    }
    // A field of the wrong kind names itself.
    const auto no_code = read_scenario_file(R"({"phases": []})", kDefines);
    ASSERT_FALSE(no_code);
    EXPECT_NE(no_code.error().find("code"), std::string::npos) << no_code.error();
}

TEST(ScenarioFile, AnAnswerDelayHoldsBackEveryAnswerOfEveryPhase) {
    std::string text = kTimed;
    text.insert(text.find('{') + 1, R"("answer_delay_ms": 3000, )");
    const auto file = read_scenario_file(text, kDefines);
    ASSERT_TRUE(file) << file.error();
    for (const auto& phase : file->phases) {
        SCOPED_TRACE(phase.note);
        EXPECT_EQ(phase.scenario.status.delay_before_head, 3s);
        EXPECT_EQ(phase.scenario.sync.at(file->code).delay_before_head, 3s);
        EXPECT_EQ(phase.scenario.sync_unknown_code.delay_before_head, 3s);
    }
    EXPECT_EQ(sim::phase_at(*read_scenario_file(kTimed, kDefines), 0s).scenario.status.delay_before_head, 0s);
    EXPECT_FALSE(read_scenario_file(R"({"code": "X", "answer_delay_ms": -1, "phases": []})", kDefines));
}

TEST(ScenarioFile, AnUnreachableOrchestratorNeedsNoPhase) {
    const auto file = read_scenario_file(R"({"code": "ABCD1234EFGH", "reachable": false})", kDefines);
    ASSERT_TRUE(file) << file.error();
    EXPECT_FALSE(file->reachable);
    EXPECT_TRUE(file->phases.empty());
}

// Every shipped scenario's answers are read by the client's own reader, its
// code is one the client accepts, and each phase grants what its name says.
TEST(ScenarioFile, TheShippedScenariosSayWhatTheirNamesPromise) {
    const struct {
        const char* name;
        bool reachable;
        std::vector<bool> tunnel_allowed;  // per phase
        bool pass;
        bool pass_blocked;
        bool l2;
    } cases[] = {
        {"l3-l2", true, {true, false, true}, false, false, true},
        {"l3", true, {true, true}, false, false, false},
        {"desktop-lan", true, {true}, false, false, false},
        {"pass-active", true, {true}, true, false, false},
        {"pass-expired", true, {false}, true, true, false},
        {"paused", true, {false, true}, false, false, false},
        {"slow-answers", true, {true}, false, false, false},
        {"unreachable", false, {}, false, false, false},
    };
    std::size_t shipped = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TARVO_SCENARIO_DIR))
        shipped += entry.path().extension() == ".json";
    EXPECT_EQ(shipped, std::size(cases)) << "a scenario without a row here";

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ifstream in(std::string(TARVO_SCENARIO_DIR) + "/" + c.name + ".json");
        std::ostringstream text;
        text << in.rdbuf();
        const auto file = read_scenario_file(text.str(), kDefines);
        ASSERT_TRUE(file) << file.error();
        EXPECT_FALSE(file->description.empty());
        EXPECT_TRUE(is_valid_access_code(file->code)) << file->code;
        EXPECT_EQ(normalize_access_code(file->code), file->code)
            << "the orchestrator sees only the canonical form";
        EXPECT_EQ(file->reachable, c.reachable);
        ASSERT_EQ(file->phases.size(), c.tunnel_allowed.size());
        for (std::size_t i = 0; i < file->phases.size(); ++i) {
            SCOPED_TRACE(i);
            MemoryByteSource body(file->phases[i].scenario.sync.at(file->code).body);
            const auto read = read_bootstrap_result(body);
            ASSERT_TRUE(read) << read.error().text;
            const bool accepted = read->allow_l3 || is_tunnel_allowed(*read);
            EXPECT_EQ(accepted, c.tunnel_allowed[i]);
            EXPECT_EQ(is_pass(*read), c.pass);
            EXPECT_EQ(is_pass_blocked(*read), c.pass_blocked);
            ASSERT_TRUE(read->hub);
            EXPECT_EQ(read->hub->endpoint, "192.0.2.2:51820");
            EXPECT_EQ(read->hub->hub_wg_ip, "10.200.0.1");
            EXPECT_EQ(read->wg_ip, "10.200.0.7/32");
            const bool has_l2 = std::any_of(read->links.begin(), read->links.end(),
                                            [](const LinkInfo& l) { return l.mode == "L2"; });
            EXPECT_EQ(has_l2, c.l2);
        }
    }
}

}  // namespace
}  // namespace tarvo
