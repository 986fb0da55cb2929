// A pull-style source of bytes, such as the body of an HTTP answer that is
// still arriving. The JSON reader consumes one; the HTTP seam produces one.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "util/expected.h"

namespace tarvo {

enum class StreamErrorKind {
    timed_out,  // the request's overall deadline passed
    too_large,  // the stream went on past the most its reader takes
    other,      // any other failure of the stream
};

struct StreamError {
    StreamErrorKind kind = StreamErrorKind::other;
    std::string message;  // the transport's own description
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next piece of bytes, valid until the next call; an empty piece means
    // the end of the stream. Blocks until bytes, the end or a failure arrive.
    virtual Expected<std::string_view, StreamError> read() = 0;
};

// A source over bytes already in memory, handed out in pieces of at most
// `piece` bytes (tests use 1 to exercise every boundary).
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::string bytes, std::size_t piece = 64 * 1024)
        : bytes_(std::move(bytes)), piece_(piece ? piece : 1) {}

    Expected<std::string_view, StreamError> read() override {
        const std::size_t n = std::min(piece_, bytes_.size() - pos_);
        std::string_view out(bytes_.data() + pos_, n);
        pos_ += n;
        return out;
    }

private:
    std::string bytes_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

}  // namespace tarvo
