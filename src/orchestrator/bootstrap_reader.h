// Reading the orchestrator's answers from a streamed body: the sync answer as
// a BootstrapResult, and the "detail" text of an error answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/json_reader.h"
#include "orchestrator/records.h"
#include "util/byte_source.h"
#include "util/expected.h"

namespace tarvo {

enum class ReadErrorKind {
    timed_out,     // the stream's deadline passed while the body was read
    invalid_data,  // anything else: a fault of the text or another stream failure
};

struct ReadError {
    ReadErrorKind kind = ReadErrorKind::invalid_data;
    std::string text;

    friend bool operator==(const ReadError&, const ReadError&) = default;
};

// Reads a whole sync answer, in object or array form, up to the end of the
// body. No record is returned on any failure.
Expected<BootstrapResult, ReadError> read_bootstrap_result(ByteSource& body);

// The values of the "hub" and "links" members, starting at the reader's next
// token. On false the reader holds the failure.
bool read_hub_info(JsonReader& reader, std::optional<HubInfo>& out);
bool read_link_list(JsonReader& reader, std::vector<LinkInfo>& out);

// The body of an error answer read as one JSON value (nesting limit 128,
// only whitespace after it): the "detail" member's text when the value is an
// object whose last "detail" member is a string; none in every other case,
// read failures and time-outs included.
std::optional<std::string> read_error_detail(ByteSource& body);

}  // namespace tarvo
