#pragma once

/** How the firmware service names this product: the brand, family and model under
    which it lists the releases and files the update reports. */
namespace Cloud::ServiceKeys
{
    inline constexpr const char* brand  = "harvellon";
    inline constexpr const char* family = "kestrova";
    inline constexpr const char* model  = "kestrovalx";
}
