#include "orchestrator/bootstrap_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo {
void PrintTo(const ReadError& e, std::ostream* os) {
    *os << (e.kind == ReadErrorKind::timed_out ? "timed_out: " : "invalid_data: ") << e.text;
}

namespace {

using Check = std::function<bool(const BootstrapResult&)>;

struct Case {
    std::string body;
    std::string error;  // full read error text; empty when the body is accepted
    Check check = [](const BootstrapResult& r) { return r == BootstrapResult{}; };
};

std::string failed(const std::string& text) { return "Failed to read JSON: " + text; }

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        // Whole-body forms.
        {"", failed("EOF while parsing a value at line 1 column 0")},
        {" \t\r\n ", failed("EOF while parsing a value at line 2 column 1")},
        {"{}", ""},
        {"[]", ""},
        {"{} \t\n\r\n ", ""},
        {"{}x", failed("trailing characters at line 1 column 3")},
        {"{}\n  ,", failed("trailing characters at line 2 column 3")},
        {"\xEF\xBB\xBF{}", failed("expected value at line 1 column 1")},
        {"\xC2\xA0{}", failed("expected value at line 1 column 1")},
        {"null", failed("invalid type: null, expected struct BootstrapResult at line 1 column 4")},
        {"5", failed("invalid type: integer `5`, expected struct BootstrapResult at line 1 column 1")},
        {"\"x\"", failed("invalid type: string \"x\", expected struct BootstrapResult at line 1 column 3")},
        {"{", failed("EOF while parsing an object at line 1 column 1")},
        {"[", failed("EOF while parsing a list at line 1 column 1")},
        // Text and optional text.
        {R"({"name":null})", failed("invalid type: null, expected a string at line 1 column 12")},
        {R"({"name":"węzeł \"A\"\n\u00e9\ud83d\ude00"})", "",
         [](const BootstrapResult& r) { return r.name == "węzeł \"A\"\n\xC3\xA9\xF0\x9F\x98\x80"; }},
        {R"({"status":null})", ""},
        {R"({"status":""})", "", [](const BootstrapResult& r) { return r.status == std::string(); }},
        {R"({"node_type":5})", failed("invalid type: integer `5`, expected a string at line 1 column 15")},
        {R"({"name":[1]})", failed("invalid type: sequence, expected a string at line 1 column 9")},
        {R"({"name":{"a":1}})", failed("invalid type: map, expected a string at line 1 column 9")},
        {"{\n  \"name\": null\n}", failed("invalid type: null, expected a string at line 2 column 14")},
        // Integers.
        {R"({"node_id":2147483647,"tunnel_id":-2147483648})", "",
         [](const BootstrapResult& r) { return r.node_id == 2147483647 && r.tunnel_id == -2147483647 - 1; }},
        {R"({"node_id":2147483648})",
         failed("invalid value: integer `2147483648`, expected i32 at line 1 column 22")},
        {R"({"node_id":-2147483649})",
         failed("invalid value: integer `-2147483649`, expected i32 at line 1 column 23")},
        {"{\"node_id\":2147483648\n}",
         failed("invalid value: integer `2147483648`, expected i32 at line 2 column 0")},
        {R"({"node_id":5.0})",
         failed("invalid type: floating point `5.0`, expected i32 at line 1 column 15")},
        {R"({"node_id":5e0})",
         failed("invalid type: floating point `5.0`, expected i32 at line 1 column 15")},
        {R"({"node_id":1.5})",
         failed("invalid type: floating point `1.5`, expected i32 at line 1 column 15")},
        {R"({"node_id":1e-7})",
         failed("invalid type: floating point `0.0000001`, expected i32 at line 1 column 16")},
        {R"({"node_id":18446744073709551615})",
         failed("invalid value: integer `18446744073709551615`, expected i32 at line 1 column 32")},
        {R"({"node_id":18446744073709551616})",
         failed("invalid type: floating point `18446744073709552000.0`, expected i32 at line 1 column 32")},
        {R"({"node_id":1e400})", failed("number out of range at line 1 column 17")},
        {R"({"node_id":"7"})", failed("invalid type: string \"7\", expected i32 at line 1 column 14")},
        {R"({"node_id":null})", failed("invalid type: null, expected i32 at line 1 column 15")},
        {R"({"pass_hours":null,"peer_age_seconds":48})", "",
         [](const BootstrapResult& r) { return !r.pass_hours && r.peer_age_seconds == 48; }},
        {R"({"node_id":-})", failed("invalid number at line 1 column 13")},
        {R"({"node_id":01})", failed("invalid number at line 1 column 13")},
        {R"({"node_id":1.})", failed("invalid number at line 1 column 14")},
        {R"({"node_id":1e+})", failed("invalid number at line 1 column 15")},
        // Booleans.
        {R"({"online":true,"allow_l3":false})", "",
         [](const BootstrapResult& r) { return r.online && !r.allow_l3; }},
        {R"({"online":1})", failed("invalid type: integer `1`, expected a boolean at line 1 column 12")},
        {R"({"online":"true"})",
         failed("invalid type: string \"true\", expected a boolean at line 1 column 16")},
        {R"({"online":null})", failed("invalid type: null, expected a boolean at line 1 column 14")},
        {R"({"online":tru})", failed("expected ident at line 1 column 14")},
        // The hub.
        {R"({"hub":null})", ""},
        {R"({"hub":{}})", "", [](const BootstrapResult& r) { return r.hub == HubInfo{}; }},
        {R"({"hub":{"endpoint":"hub.example:51820","x":[{}],"server_public_key":"Zm9v","hub_wg_ip":"10.0.0.1"}})",
         "",
         [](const BootstrapResult& r) {
             return r.hub == HubInfo{"hub.example:51820", "Zm9v", "10.0.0.1"};
         }},
        {R"({"hub":["e","k","10.0.0.1"]})", "",
         [](const BootstrapResult& r) {
             return r.hub == HubInfo{"e", "k", "10.0.0.1"};
         }},
        {R"({"hub":["e"]})", "",
         [](const BootstrapResult& r) {
             return r.hub == HubInfo{"e", "", ""};
         }},
        {R"({"hub":["e","k","i","x"]})", failed("trailing characters at line 1 column 21")},
        {R"({"hub":5})", failed("invalid type: integer `5`, expected struct HubInfo at line 1 column 9")},
        {R"({"hub":{"endpoint":"a","endpoint":"b"}})",
         failed("duplicate field `endpoint` at line 1 column 33")},
        // Links.
        {R"({"links":null})", failed("invalid type: null, expected a sequence at line 1 column 13")},
        {R"({"links":{}})", failed("invalid type: map, expected a sequence at line 1 column 10")},
        {R"({"links":[]})", ""},
        {R"({"links":[{"id":9,"mode":"L2","tap_ip":null,"hub_ip":"1.2.3.4","extra":[1,2]},[4,1,2,"L3","a","b",7,null,"t"]]})",
         "",
         [](const BootstrapResult& r) {
             return r.links == std::vector<LinkInfo>{{9, 0, 0, "L2", "", "", 0, "1.2.3.4", std::nullopt},
                                                     {4, 1, 2, "L3", "a", "b", 7, std::nullopt, "t"}};
         }},
        {R"({"links":[5]})",
         failed("invalid type: integer `5`, expected struct LinkInfo at line 1 column 12")},
        {R"({"links":[{},]})", failed("trailing comma at line 1 column 14")},
        {R"({"links":[{} {}]})", failed("expected `,` or `]` at line 1 column 14")},
        {R"({"links":[)", failed("EOF while parsing a list at line 1 column 10")},
        // Keys.
        {R"({"status":"a","status":"b"})", failed("duplicate field `status` at line 1 column 22")},
        {R"({"status":null,"status":null})", failed("duplicate field `status` at line 1 column 23")},
        {R"({"status":null,"stat\u0075s":1})", failed("duplicate field `status` at line 1 column 28")},
        {R"({"x":1,"x":[2],"x":{"y":"z"}})", ""},
        {R"({"Name":"a"})", ""},
        {R"({"n\u0061me":"escaped"})", "", [](const BootstrapResult& r) { return r.name == "escaped"; }},
        {"{\"" + std::string(100, 'k') + "\":1}", ""},
        // Faults of the syntax, in kept and dropped values alike.
        {R"({"name" "x"})", failed("expected `:` at line 1 column 9")},
        {R"({"name":"x" "y":1})", failed("expected `,` or `}` at line 1 column 13")},
        {R"({"name":"x",})", failed("trailing comma at line 1 column 13")},
        {R"({"name":"x",)", failed("EOF while parsing a value at line 1 column 12")},
        {R"({,})", failed("key must be a string at line 1 column 2")},
        {R"({5:1})", failed("key must be a string at line 1 column 2")},
        {R"({"name":"abc)", failed("EOF while parsing a string at line 1 column 12")},
        {R"({"name":"\q"})", failed("invalid escape at line 1 column 11")},
        {R"({"name":"\u12g4"})", failed("invalid escape at line 1 column 14")},
        {"{\"name\":\"a\nb\"}",
         failed("control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0")},
        {"{\"name\":\"a\x01\"}",
         failed("control character (\\u0000-\\u001F) found while parsing a string at line 1 column 11")},
        {"{\"name\":\"\xFF\"}", failed("invalid unicode code point at line 1 column 11")},
        {"{\"name\":\"\xC0\xAF\"}", failed("invalid unicode code point at line 1 column 12")},
        {"{\"name\":\"\xED\xA0\x80\"}", failed("invalid unicode code point at line 1 column 13")},
        {"{\"name\":\"\xE2\x82\"}", failed("invalid unicode code point at line 1 column 12")},
        {"{\"name\":\"\xF4\x90\x80\x80\"}", failed("invalid unicode code point at line 1 column 14")},
        {R"({"name":"\udc00"})", failed("lone leading surrogate in hex escape at line 1 column 15")},
        {R"({"name":"\ud800x"})", failed("unexpected end of hex escape at line 1 column 16")},
        {R"({"name":"\ud800\u0041"})", failed("lone leading surrogate in hex escape at line 1 column 21")},
        {R"({"x":"\ud800"})", failed("unexpected end of hex escape at line 1 column 13")},
        {"{\"x\":\"\xFF\"}", failed("invalid unicode code point at line 1 column 8")},
        {"{\"x\xFF\":1}", failed("invalid unicode code point at line 1 column 5")},
        {R"({"x":[1,]})", failed("expected value at line 1 column 9")},
        {R"({"x":{"a":1,}})", failed("key must be a string at line 1 column 13")},
        {R"({"x":[1 2]})", failed("expected `,` or `]` at line 1 column 9")},
        {R"({"x":{"a" 1}})", failed("expected `:` at line 1 column 11")},
        {R"({"x":[}]})", failed("expected value at line 1 column 7")},
        {R"({"x":nul})", failed("expected ident at line 1 column 9")},
        {R"({"x":-01})", failed("invalid number at line 1 column 8")},
        {R"({"x":[)", failed("EOF while parsing a list at line 1 column 6")},
        {R"({"x":1.)", failed("invalid number at line 1 column 7")},
        {R"({"x":-)", failed("invalid number at line 1 column 6")},
        {R"({"node_id":1e+)", failed("EOF while parsing a value at line 1 column 14")},
        {R"({"x":{"a")", failed("EOF while parsing an object at line 1 column 9")},
        {R"({"x":1e999,"y":[true,false,null,-0.5e-3,"s",{}]})", ""},
        {"{\"x\":" + nested_arrays(1000) + "}", ""},
        {"{\"x\":" + std::string(1000, '[') + "}", failed("expected value at line 1 column 1006")},
    };
    return all;
}

void expect_outcome(const Case& c, std::size_t piece) {
    SCOPED_TRACE("body: " + c.body.substr(0, 80) + " piece: " + std::to_string(piece));
    MemoryByteSource source(c.body, piece);
    const auto result = read_bootstrap_result(source);
    if (c.error.empty()) {
        ASSERT_TRUE(result.has_value()) << result.error().text;
        EXPECT_TRUE(c.check(*result));
    } else {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), (ReadError{ReadErrorKind::invalid_data, c.error}));
    }
}

TEST(BootstrapReader, EachBodyGivesItsExactOutcome) {
    for (const Case& c : cases()) expect_outcome(c, 64 * 1024);
}

TEST(BootstrapReader, OneByteAtATimeGivesTheSameOutcomes) {
    for (const Case& c : cases()) expect_outcome(c, 1);
}

// Every field with a value unlike its default, in declaration order.
constexpr const char* all_fields_array =
    R"(["ok","DEV1","PASS-48H-ABCDEFGH",48,"2025-03-01T08:15:00Z","ACTIVE",7,"Laptop","desktop",3,"owner",)"
    R"("10.8.0.7","192.168.7.0/24",70,"10.8.0.1","10.9.0.7","cHJpdg==","cHVi",["hub:51820","c2Vydg==","10.8.0.1"],)"
    R"([[1,7,8,"L2","a","b",12,"h","t"]],true,true,true,true,true,true,true,"reason","label",true,9)";

BootstrapResult all_fields_record() {
    return {"ok",
            "DEV1",
            "PASS-48H-ABCDEFGH",
            48,
            "2025-03-01T08:15:00Z",
            "ACTIVE",
            7,
            "Laptop",
            "desktop",
            3,
            "owner",
            "10.8.0.7",
            "192.168.7.0/24",
            70,
            "10.8.0.1",
            "10.9.0.7",
            "cHJpdg==",
            "cHVi",
            HubInfo{"hub:51820", "c2Vydg==", "10.8.0.1"},
            std::vector<LinkInfo>{{1, 7, 8, "L2", "a", "b", 12, "h", "t"}},
            true,
            true,
            true,
            true,
            true,
            true,
            true,
            "reason",
            "label",
            true,
            9};
}

TEST(BootstrapReader, ArrayFormSetsEveryFieldInDeclarationOrder) {
    MemoryByteSource source(std::string(all_fields_array) + "]");
    const auto result = read_bootstrap_result(source);
    ASSERT_TRUE(result.has_value()) << result.error().text;
    EXPECT_EQ(*result, all_fields_record());
}

// The same values with every key of the three records spelt out, in an order
// of their own.
constexpr const char* all_fields_object = R"({
  "peer_age_seconds": 9, "online": true, "state_label": "label", "reason": "reason",
  "has_l2_link": true, "has_link": true, "allow_l2": true, "allow_l3": true, "allow_orchestrator": true,
  "owner_active": true, "project_enabled": true,
  "links": [{"tap_ip": "t", "hub_ip": "h", "tunnel_id": 12, "dst_subnet": "b", "src_subnet": "a",
             "mode": "L2", "target_id": 8, "source_id": 7, "id": 1}],
  "hub": {"hub_wg_ip": "10.8.0.1", "server_public_key": "c2Vydg==", "endpoint": "hub:51820"},
  "public_key": "cHVi", "private_key": "cHJpdg==", "tap_ip": "10.9.0.7", "hub_ip": "10.8.0.1",
  "tunnel_id": 70, "local_subnet": "192.168.7.0/24", "wg_ip": "10.8.0.7", "owner": "owner",
  "project_id": 3, "node_type": "desktop", "name": "Laptop", "node_id": 7, "pass_status": "ACTIVE",
  "pass_expires_at": "2025-03-01T08:15:00Z", "pass_hours": 48, "pass_code": "PASS-48H-ABCDEFGH",
  "device_code": "DEV1", "status": "ok"
})";

TEST(BootstrapReader, ObjectFormSetsEveryFieldByItsKey) {
    for (const std::size_t piece : {std::size_t{64 * 1024}, std::size_t{1}}) {
        MemoryByteSource source(all_fields_object, piece);
        const auto result = read_bootstrap_result(source);
        ASSERT_TRUE(result.has_value()) << result.error().text;
        EXPECT_EQ(*result, all_fields_record()) << "piece " << piece;
    }
}

TEST(BootstrapReader, ArrayFormRefusesValuesPastTheLastField) {
    const std::string base = all_fields_array;
    const std::size_t end = base.size();
    const struct {
        std::string body;
        std::string error;
    } rows[] = {
        {base + ",1]", "trailing characters at line 1 column " + std::to_string(end + 2)},
        {base + ",]", "trailing comma at line 1 column " + std::to_string(end + 2)},
        {base + " , ]", "trailing comma at line 1 column " + std::to_string(end + 4)},
        {base + " 1]", "trailing characters at line 1 column " + std::to_string(end + 2)},
        {base, "EOF while parsing a list at line 1 column " + std::to_string(end)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        MemoryByteSource source(row.body);
        const auto result = read_bootstrap_result(source);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().text, failed(row.error));
    }
}

TEST(BootstrapReader, ShortArrayLeavesTheRemainingFieldsAtTheirDefaults) {
    MemoryByteSource source(R"(["ok",null,"PASS-1H-AAAAAAAA"])");
    const auto result = read_bootstrap_result(source);
    ASSERT_TRUE(result.has_value()) << result.error().text;
    BootstrapResult expected;
    expected.status = "ok";
    expected.pass_code = "PASS-1H-AAAAAAAA";
    EXPECT_EQ(*result, expected);
}

TEST(BootstrapReader, DropsAMemberNestedFarBeyondAnyRecursionDepth) {
    constexpr std::size_t depth = 100'000;
    std::string mixed;
    for (std::size_t i = 0; i < depth; ++i) mixed += i % 2 ? "[" : "{\"k\":";
    for (std::size_t i = depth; i-- > 0;) mixed += i % 2 ? "]" : "}";
    for (const std::string& dropped : {nested_arrays(depth), mixed}) {
        MemoryByteSource source("{\"extra\":" + dropped + ",\"name\":\"deep\"}");
        const auto result = read_bootstrap_result(source);
        ASSERT_TRUE(result.has_value()) << result.error().text;
        EXPECT_EQ(result->name, "deep");
    }
    // The same depth left unclosed is still a fault, found at the end.
    MemoryByteSource unclosed("{\"extra\":" + std::string(depth, '['));
    const auto result = read_bootstrap_result(unclosed);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().text,
              failed("EOF while parsing a list at line 1 column " + std::to_string(depth + 9)));
}

// Hands out a body in small pieces and then fails; reading on after the
// failure is a fault of the reader.
class FailingSource final : public ByteSource {
public:
    FailingSource(std::string bytes, StreamError failure)
        : bytes_(std::move(bytes)), failure_(std::move(failure)) {}

    Expected<std::string_view, StreamError> read() override {
        if (failed_) ADD_FAILURE() << "read again after the stream failed";
        if (pos_ == bytes_.size()) {
            failed_ = true;
            return unexpected(failure_);
        }
        const std::size_t n = std::min<std::size_t>(3, bytes_.size() - pos_);
        pos_ += n;
        return std::string_view(bytes_).substr(pos_ - n, n);
    }

private:
    std::string bytes_;
    StreamError failure_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

TEST(BootstrapReader, StreamFailuresKeepTheStreamsTextAndTheirPosition) {
    const StreamError timed_out{StreamErrorKind::timed_out, "timed out reading response"};
    const StreamError reset{StreamErrorKind::other, "connection reset by peer"};
    const struct {
        std::string body;  // what arrives before the failure
        StreamError failure;
        ReadError expected;
    } rows[] = {
        {"{\"name\":\"Lap",
         timed_out,
         {ReadErrorKind::timed_out, "timed out reading response at line 1 column 12"}},
        {"{\n\"links\":[{\"id\":1},",
         timed_out,
         {ReadErrorKind::timed_out, "timed out reading response at line 2 column 18"}},
        {"{\"x\":[[[",
         timed_out,
         {ReadErrorKind::timed_out, "timed out reading response at line 1 column 8"}},
        {"{\"name\":\"Lap",
         reset,
         {ReadErrorKind::invalid_data, "Failed to read JSON: connection reset by peer at line 1 column 12"}},
        // Before the value begins and after it has ended there is no position.
        {"", timed_out, {ReadErrorKind::timed_out, "timed out reading response"}},
        {" \n\t", timed_out, {ReadErrorKind::timed_out, "timed out reading response"}},
        {"{} \n", timed_out, {ReadErrorKind::timed_out, "timed out reading response"}},
        {"[]", reset, {ReadErrorKind::invalid_data, "Failed to read JSON: connection reset by peer"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body);
        FailingSource source(row.body, row.failure);
        const auto result = read_bootstrap_result(source);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), row.expected);
    }
}

TEST(ErrorDetail, OnlyAStringDetailOfAWellFormedObjectIsTaken) {
    const struct {
        std::string body;
        std::optional<std::string> detail;
    } rows[] = {
        {R"({"detail":"Nieznany kod"})", "Nieznany kod"},
        {R"( {"code":3,"detail":"a\u00e9\n"} )", "a\xC3\xA9\n"},
        {R"({"detail":"first","detail":"second"})", "second"},
        {R"({"detail":"first","detail":5})", std::nullopt},
        {R"({"detail":[{"loc":["query","code"],"msg":"field required"}]})", std::nullopt},
        {R"({"detail":null})", std::nullopt},
        {R"({"message":"x"})", std::nullopt},
        {R"(["detail","x"])", std::nullopt},
        {R"("detail")", std::nullopt},
        {"<html><body>502 Bad Gateway</body></html>", std::nullopt},
        {"", std::nullopt},
        {R"({"detail":"x"} trailing)", std::nullopt},
        {R"({"detail":"x",})", std::nullopt},
        {R"({"detail":"x","n":1e999})", std::nullopt},
        {R"({"detail":"x")", std::nullopt},
        {"{\"detail\":\"\xFF\"}", std::nullopt},
        {"{\"detail\":\"d\",\"x\":" + nested_arrays(126) + "}", "d"},
        {"{\"detail\":\"d\",\"x\":" + nested_arrays(127) + "}", std::nullopt},
    };
    for (const auto& row : rows) {
        for (const std::size_t piece : {std::size_t{64 * 1024}, std::size_t{1}}) {
            SCOPED_TRACE(row.body.substr(0, 60) + " piece " + std::to_string(piece));
            MemoryByteSource source(row.body, piece);
            EXPECT_EQ(read_error_detail(source), row.detail);
        }
    }
}

TEST(ErrorDetail, AStreamFailureGivesNoDetail) {
    FailingSource source(R"({"detail":"x")", {StreamErrorKind::timed_out, "timed out"});
    EXPECT_EQ(read_error_detail(source), std::nullopt);
}

}  // namespace
}  // namespace tarvo
