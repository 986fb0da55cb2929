#include "orchestrator/bootstrap_reader.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string_view>

namespace tarvo {

namespace {

bool starts_number(int c) { return c == '-' || (c >= '0' && c <= '9'); }

// Keys longer than any record key cannot match one, so no more of them is kept.
constexpr std::size_t longest_key = 32;

bool read_value(JsonReader& r, std::string& out) {
    if (r.peek() != '"') return r.fail_invalid_type("a string");
    r.take();
    return r.read_string(&out);
}

bool read_value(JsonReader& r, std::int32_t& out) {
    if (!starts_number(r.peek())) return r.fail_invalid_type("i32");
    JsonNumber number;
    if (!r.read_number(number, true)) return false;
    constexpr std::uint64_t positive_limit = 2147483647;
    constexpr std::uint64_t negative_limit = 2147483648;
    switch (number.kind) {
        case JsonNumber::Kind::non_negative:
            if (number.magnitude > positive_limit) break;
            out = static_cast<std::int32_t>(number.magnitude);
            return true;
        case JsonNumber::Kind::negative:
            if (number.magnitude > negative_limit) break;
            out = static_cast<std::int32_t>(-static_cast<std::int64_t>(number.magnitude));
            return true;
        case JsonNumber::Kind::floating:
            return r.fail("invalid type: " + number.describe() + ", expected i32");
    }
    return r.fail("invalid value: " + number.describe() + ", expected i32");
}

bool read_value(JsonReader& r, bool& out) {
    const int c = r.peek();
    if (c != 't' && c != 'f') return r.fail_invalid_type("a boolean");
    r.take();
    out = c == 't';
    return r.read_literal_rest(out ? "rue" : "alse");
}

// null gives absent; anything else is read as the value itself.
template <class T>
bool read_value(JsonReader& r, std::optional<T>& out) {
    if (r.peek() == 'n') {
        r.take();
        out.reset();
        return r.read_literal_rest("ull");
    }
    return read_value(r, out.emplace());
}

bool read_value(JsonReader& r, std::optional<HubInfo>& out) { return read_hub_info(r, out); }
bool read_value(JsonReader& r, std::vector<LinkInfo>& out) { return read_link_list(r, out); }

bool read_colon(JsonReader& r) {
    const int c = r.peek();
    if (c < 0) return r.fail_at_end("EOF while parsing an object");
    if (c != ':') return r.fail("expected `:`");
    r.take();
    return true;
}

// Walks the members of an object whose '{' has been taken, up to and
// including its '}'. `on_member(key, key_too_long)` is called once the key
// has been read; it reads the colon and the value.
template <class OnMember>
bool read_members(JsonReader& r, std::size_t key_limit, OnMember on_member) {
    for (bool first = true;; first = false) {
        int c = r.peek();
        if (c == '}') {
            r.take();
            return true;
        }
        if (!first) {
            if (c != ',')
                return c < 0 ? r.fail_at_end("EOF while parsing an object") : r.fail("expected `,` or `}`");
            r.take();
            c = r.peek();
            if (c < 0) return r.fail_at_end("EOF while parsing a value");
            if (c == '}') return r.fail("trailing comma");
        } else if (c < 0) {
            return r.fail_at_end("EOF while parsing an object");
        }
        if (c != '"') return r.fail("key must be a string");
        r.take();
        bool too_long = false;
        if (!r.read_string(&r.key_buffer(), key_limit, &too_long)) return false;
        if (!on_member(std::string_view(r.key_buffer()), too_long)) return false;
    }
}

enum class NextElement { element, end, failed };

// Moves to the next element of a sequence whose '[' has been taken; at the
// end the ']' is left for the caller.
NextElement next_element(JsonReader& r, bool first) {
    int c = r.peek();
    if (c == ']') return NextElement::end;
    if (!first) {
        if (c != ',') {
            if (c < 0) r.fail_at_end("EOF while parsing a list");
            else r.fail("expected `,` or `]`");
            return NextElement::failed;
        }
        r.take();
        c = r.peek();
        if (c < 0) {
            r.fail_at_end("EOF while parsing a value");
            return NextElement::failed;
        }
        if (c == ']') {
            r.fail("trailing comma");
            return NextElement::failed;
        }
    } else if (c < 0) {
        r.fail_at_end("EOF while parsing a list");
        return NextElement::failed;
    }
    return NextElement::element;
}

template <class Record>
struct Field {
    std::string_view key;
    bool (*read)(JsonReader&, Record&);
};

template <auto Member>
struct MemberOf;
template <class Record, class T, T Record::*Member>
struct MemberOf<Member> {
    using type = Record;
};

template <auto Member>
constexpr auto field(std::string_view key) {
    using Record = typename MemberOf<Member>::type;
    return Field<Record>{key, [](JsonReader& r, Record& record) { return read_value(r, record.*Member); }};
}

template <class Record, std::size_t N>
bool read_object_form(JsonReader& r, Record& out, const std::array<Field<Record>, N>& fields) {
    std::bitset<N> seen;
    return read_members(r, longest_key, [&](std::string_view key, bool too_long) {
        std::size_t index = N;
        if (!too_long) {
            for (std::size_t i = 0; i < N; ++i) {
                if (fields[i].key == key) {
                    index = i;
                    break;
                }
            }
        }
        if (index == N) return read_colon(r) && r.skip_value();  // not a key of the record
        if (seen[index]) return r.fail("duplicate field `" + std::string(key) + "`");
        seen.set(index);
        return read_colon(r) && fields[index].read(r, out);
    });
}

template <class Record, std::size_t N>
bool read_array_form(JsonReader& r, Record& out, const std::array<Field<Record>, N>& fields) {
    for (std::size_t i = 0; i < N; ++i) {
        const NextElement next = next_element(r, i == 0);
        if (next == NextElement::failed) return false;
        if (next == NextElement::end) break;  // the remaining fields keep their defaults
        if (!fields[i].read(r, out)) return false;
    }
    int c = r.peek();
    if (c == ']') {
        r.take();
        return true;
    }
    if (c == ',') {
        r.take();
        c = r.peek();
        if (c == JsonReader::failed) return false;
        return r.fail(c == ']' ? "trailing comma" : "trailing characters");
    }
    if (c < 0) return r.fail_at_end("EOF while parsing a list");
    return r.fail("trailing characters");
}

template <class Record, std::size_t N>
bool read_record(JsonReader& r, Record& out, const std::array<Field<Record>, N>& fields,
                 std::string_view expected) {
    const int c = r.peek();
    if (c != '{' && c != '[') return r.fail_invalid_type(expected);
    r.take();
    return c == '{' ? read_object_form(r, out, fields) : read_array_form(r, out, fields);
}

constexpr std::array<Field<HubInfo>, 3> hub_fields{
    field<&HubInfo::endpoint>("endpoint"),
    field<&HubInfo::server_public_key>("server_public_key"),
    field<&HubInfo::hub_wg_ip>("hub_wg_ip"),
};

constexpr std::array<Field<LinkInfo>, 9> link_fields{
    field<&LinkInfo::id>("id"),
    field<&LinkInfo::source_id>("source_id"),
    field<&LinkInfo::target_id>("target_id"),
    field<&LinkInfo::mode>("mode"),
    field<&LinkInfo::src_subnet>("src_subnet"),
    field<&LinkInfo::dst_subnet>("dst_subnet"),
    field<&LinkInfo::tunnel_id>("tunnel_id"),
    field<&LinkInfo::hub_ip>("hub_ip"),
    field<&LinkInfo::tap_ip>("tap_ip"),
};

}  // namespace

bool read_hub_info(JsonReader& reader, std::optional<HubInfo>& out) {
    if (reader.peek() == 'n') {
        reader.take();
        out.reset();
        return reader.read_literal_rest("ull");
    }
    return read_record(reader, out.emplace(), hub_fields, "struct HubInfo");
}

bool read_link_list(JsonReader& reader, std::vector<LinkInfo>& out) {
    out.clear();
    if (reader.peek() != '[') return reader.fail_invalid_type("a sequence");
    reader.take();
    for (bool first = true;; first = false) {
        const NextElement next = next_element(reader, first);
        if (next == NextElement::failed) return false;
        if (next == NextElement::end) break;
        if (!read_record(reader, out.emplace_back(), link_fields, "struct LinkInfo")) return false;
    }
    reader.take();  // the ']'
    return true;
}

namespace {

constexpr std::array<Field<BootstrapResult>, 31> bootstrap_fields{
    field<&BootstrapResult::status>("status"),
    field<&BootstrapResult::device_code>("device_code"),
    field<&BootstrapResult::pass_code>("pass_code"),
    field<&BootstrapResult::pass_hours>("pass_hours"),
    field<&BootstrapResult::pass_expires_at>("pass_expires_at"),
    field<&BootstrapResult::pass_status>("pass_status"),
    field<&BootstrapResult::node_id>("node_id"),
    field<&BootstrapResult::name>("name"),
    field<&BootstrapResult::node_type>("node_type"),
    field<&BootstrapResult::project_id>("project_id"),
    field<&BootstrapResult::owner>("owner"),
    field<&BootstrapResult::wg_ip>("wg_ip"),
    field<&BootstrapResult::local_subnet>("local_subnet"),
    field<&BootstrapResult::tunnel_id>("tunnel_id"),
    field<&BootstrapResult::hub_ip>("hub_ip"),
    field<&BootstrapResult::tap_ip>("tap_ip"),
    field<&BootstrapResult::private_key>("private_key"),
    field<&BootstrapResult::public_key>("public_key"),
    field<&BootstrapResult::hub>("hub"),
    field<&BootstrapResult::links>("links"),
    field<&BootstrapResult::project_enabled>("project_enabled"),
    field<&BootstrapResult::owner_active>("owner_active"),
    field<&BootstrapResult::allow_orchestrator>("allow_orchestrator"),
    field<&BootstrapResult::allow_l3>("allow_l3"),
    field<&BootstrapResult::allow_l2>("allow_l2"),
    field<&BootstrapResult::has_link>("has_link"),
    field<&BootstrapResult::has_l2_link>("has_l2_link"),
    field<&BootstrapResult::reason>("reason"),
    field<&BootstrapResult::state_label>("state_label"),
    field<&BootstrapResult::online>("online"),
    field<&BootstrapResult::peer_age_seconds>("peer_age_seconds"),
};

ReadError to_read_error(const JsonFailure& failure) {
    if (failure.kind == JsonFailureKind::stream_timed_out) return {ReadErrorKind::timed_out, failure.text()};
    return {ReadErrorKind::invalid_data, "Failed to read JSON: " + failure.text()};
}

// The untyped reading of an error body counts the outer object as the first
// of the 128 levels, and the level that reaches the limit fails.
constexpr std::size_t nested_containers_allowed = 126;

}  // namespace

Expected<BootstrapResult, ReadError> read_bootstrap_result(ByteSource& body) {
    JsonReader reader(body);
    BootstrapResult result;
    bool ok = reader.peek() != JsonReader::failed;
    if (ok) {
        reader.begin_value();
        ok = read_record(reader, result, bootstrap_fields, "struct BootstrapResult");
    }
    if (ok) {
        reader.end_value();
        ok = reader.finish();
    }
    if (!ok) return unexpected(to_read_error(reader.failure()));
    return result;
}

std::optional<std::string> read_error_detail(ByteSource& body) {
    JsonReader reader(body);
    // Only an object can carry a detail; for any other value the rest of
    // the body cannot change the outcome.
    if (reader.peek() != '{') return std::nullopt;
    reader.begin_value();
    reader.take();
    std::optional<std::string> detail;  // a repeated "detail" replaces the earlier one
    const bool ok = read_members(reader, 8, [&](std::string_view key, bool too_long) {
        if (!read_colon(reader)) return false;
        if (too_long || key != "detail") return reader.skip_value(nested_containers_allowed, true);
        if (reader.peek() == '"') {
            reader.take();
            return reader.read_string(&detail.emplace());
        }
        detail.reset();
        return reader.skip_value(nested_containers_allowed, true);
    });
    if (!ok) return std::nullopt;
    reader.end_value();
    if (!reader.finish()) return std::nullopt;
    return detail;
}

}  // namespace tarvo
