#pragma once

#include <stdexcept>
#include <utility>
#include <variant>

namespace Cloud
{

/** Holds either a value or the error that stood in its way. */
template <typename T, typename E>
class Result
{
public:
    template <typename... Args>
    static Result withResult (Args&&... args)
    {
        return Result (std::in_place_index<0>, std::forward<Args> (args)...);
    }

    template <typename... Args>
    static Result withError (Args&&... args)
    {
        return Result (std::in_place_index<1>, std::forward<Args> (args)...);
    }

    bool isOk() const noexcept { return held.index() == 0; }

    /** Callers test isOk() first; asking a failed Result for its value is a misuse. */
    const T& getResult() const
    {
        if (! isOk())
            throw std::logic_error ("Attempting to access unavailable result in Result");

        return std::get<0> (held);
    }

    const E& getError() const
    {
        if (isOk())
            throw std::logic_error ("Attempting to access unavailable error in Result");

        return std::get<1> (held);
    }

private:
    template <std::size_t side, typename... Args>
    explicit Result (std::in_place_index_t<side> index, Args&&... args)
        : held (index, std::forward<Args> (args)...)
    {
    }

    std::variant<T, E> held;
};

} // namespace Cloud
