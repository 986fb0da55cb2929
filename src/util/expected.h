// A small value-or-error result. std::expected is not available with every
// compiler this tree builds with (clang 14 for the fuzzers), so the system
// carries its own minimal form with the same spelling of the parts it uses.
#pragma once

#include <cstdlib>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarvo {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

struct Unit {
    friend bool operator==(Unit, Unit) = default;
};

template <class T, class E>
class Expected {
public:
    Expected() requires std::is_default_constructible_v<T> : storage_(std::in_place_index<0>) {}
    Expected(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    template <class G>
    Expected(Unexpected<G> e) : storage_(std::in_place_index<1>, std::move(e.error)) {}

    bool has_value() const { return storage_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return checked_value(); }
    const T& value() const& { return const_cast<Expected*>(this)->checked_value(); }
    T&& value() && { return std::move(checked_value()); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    E& error() & { return checked_error(); }
    const E& error() const& { return const_cast<Expected*>(this)->checked_error(); }
    E&& error() && { return std::move(checked_error()); }

private:
    // Reading the wrong alternative is a broken invariant: end the process.
    T& checked_value() {
        if (!has_value()) std::abort();
        return std::get<0>(storage_);
    }
    E& checked_error() {
        if (has_value()) std::abort();
        return std::get<1>(storage_);
    }

    std::variant<T, E> storage_;
};

// Success-or-error with nothing to carry on success.
template <class E>
using Status = Expected<Unit, E>;

}  // namespace tarvo
