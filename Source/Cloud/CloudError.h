#pragma once

#include "StatusCode.h"

namespace Cloud
{

/** What went wrong with a request to the firmware service. */
struct Error
{
    enum class Kind : juce::int32
    {
        none = 0,
        connection = 1,
        httpStatus = 2,
        parse = 3,
        serverAuthentication = 4
    };

    /** An error for an answer whose status is not successful. */
    Error (StatusCode status);

    static Error withConnectionError();
    static Error withParseError (juce::String message);
    static Error withServerAuthentication();

    static const Error noError;

    bool isAuthenticationError() const;

    /** The status's reason phrase for an HTTP status error, otherwise the message. */
    juce::String description() const;

    Kind kind;
    StatusCode statusCode;
    juce::String message;

private:
    Error (Kind, juce::String);
};

} // namespace Cloud
