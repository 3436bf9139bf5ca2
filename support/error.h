// Failure values and the one exception type for broken invariants.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vona {

// A broken invariant of native code. Thrown only for things that cannot
// happen with valid data; the binding layer turns it into InternalError.
class InternalFailure {
public:
    explicit InternalFailure(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// Writes the message and its source location to standard error, then throws.
[[noreturn]] void internal_failure(std::string message, const char* file, int line);

#define VONA_FAIL(message) ::vona::internal_failure((message), __FILE__, __LINE__)

// Failure of a load or a shard read: a kind and the message users see.
struct IoError {
    enum class Kind { Os, InvalidInput, InvalidData };
    Kind kind;
    int os_errno = 0;  // set for Kind::Os
    std::string message;

    static IoError os(int err);  // "<strerror> (os error N)"
    static IoError invalid_input(std::string m) { return {Kind::InvalidInput, 0, std::move(m)}; }
    static IoError invalid_data(std::string m) { return {Kind::InvalidData, 0, std::move(m)}; }
};

// A value or an error value.
template <class T, class E = IoError>
class Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    E& error() { return std::get<1>(v_); }
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

}  // namespace vona
