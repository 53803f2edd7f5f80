#pragma once

#include "platform/error.h"

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

// What a result needs to know of its error type: the value that means
// success and whether a value is a failure. The platform's system error codes
// are the default; other code families (WMI's HRESULTs) bring their own.
template <typename E> struct ErrorTraits;

template <> struct ErrorTraits<Error> {
    static constexpr Error success = Error::Success;
    static constexpr bool failed(Error error) { return error != Error::Success; }
};

// The outcome of a platform call: a value, or one of the platform's error
// codes. Success is never an error value: Result<T>{Error::Success} is a bug.
template <typename T, typename E = Error> class [[nodiscard]] Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    { }
    Result(E error)
        : m_state(std::in_place_index<1>, error)
    {
        assert(ErrorTraits<E>::failed(error));
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

    // The success value (Error::Success) when the call succeeded.
    E error() const { return ok() ? ErrorTraits<E>::success : std::get<1>(m_state); }
    uint32_t code() const { return toCode(error()); }

    template <typename U> T valueOr(U&& fallback) const&
    {
        return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

private:
    std::variant<T, E> m_state;
};

// A result without a value: the code itself, which may also be a success
// code other than the plain one (WMI's "succeeded, but false").
template <typename E> class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(E error)
        : m_error(error)
    { }

    bool ok() const { return !ErrorTraits<E>::failed(m_error); }
    explicit operator bool() const { return ok(); }
    E error() const { return m_error; }
    uint32_t code() const { return toCode(m_error); }

private:
    E m_error { ErrorTraits<E>::success };
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
