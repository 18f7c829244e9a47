#include "CloudError.h"

namespace Cloud
{

const Error Error::noError { Kind::none, "No Error" };

Error::Error (StatusCode status)
    : kind (Kind::httpStatus), statusCode (status)
{
}

Error::Error (Kind k, juce::String text)
    : kind (k), statusCode (0), message (std::move (text))
{
}

Error Error::withConnectionError()
{
    return { Kind::connection, "Could not connect" };
}

Error Error::withParseError (juce::String text)
{
    return { Kind::parse, std::move (text) };
}

Error Error::withServerAuthentication()
{
    return { Kind::serverAuthentication, "Could not authenticate server" };
}

bool Error::isAuthenticationError() const
{
    return kind == Kind::serverAuthentication;
}

juce::String Error::description() const
{
    return kind == Kind::httpStatus ? statusCode.description() : message;
}

} // namespace Cloud
