#pragma once

#include "platform/error.h"

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

// The outcome of a platform call: a value, or one of the platform's error
// codes. Success is never an error value: Result<T>{Error::Success} is a bug.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    { }
    Result(Error error)
        : m_state(std::in_place_index<1>, error)
    {
        assert(error != Error::Success);
    }

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() &
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const&
    {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() &&
    {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    // Error::Success when the call succeeded.
    Error error() const { return ok() ? Error::Success : std::get<1>(m_state); }
    uint32_t code() const { return toCode(error()); }

    template <typename U> T valueOr(U&& fallback) const&
    {
        return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

private:
    std::variant<T, Error> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(error)
    { }

    bool ok() const { return m_error == Error::Success; }
    explicit operator bool() const { return ok(); }
    Error error() const { return m_error; }
    uint32_t code() const { return toCode(m_error); }

private:
    Error m_error { Error::Success };
};

using Status = Result<void>;

// Whether a call created its object or found it already there. The platform
// reports the second case as error 183 beside a valid handle; here it is data.
enum class Disposition {
    Created,
    OpenedExisting,
};

} // namespace platform

#define TRY_RESULT(var, expr)                                                                                          \
    auto var##_result = (expr);                                                                                        \
    if (!var##_result.ok())                                                                                            \
        return var##_result.error();                                                                                   \
    auto var = std::move(var##_result).value()

#define TRY_STATUS(expr)                                                                                               \
    do {                                                                                                               \
        auto status_ = (expr);                                                                                         \
        if (!status_.ok())                                                                                             \
            return status_.error();                                                                                    \
    } while (0)
