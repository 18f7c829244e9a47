#pragma once

#include <juce_core/juce_core.h>

/** The block that the synthesizer's version reply unpacks to. */
struct VersionStringData
{
    juce::uint8 unused[20];

    /** The firmware version as text; it ends at its first zero byte or at the field's end. */
    char versionString[24];

    /** Little-endian on the wire, like the machines this runs on. */
    juce::uint32 modelCode;
};

static_assert (sizeof (VersionStringData) == 48, "the block is 48 bytes on the wire");
static_assert (offsetof (VersionStringData, versionString) == 20, "the text starts at byte 20");
static_assert (offsetof (VersionStringData, modelCode) == 44, "the model code starts at byte 44");
#if ! JUCE_LITTLE_ENDIAN
 #error "the model code is read in place, which assumes a little-endian machine"
#endif
