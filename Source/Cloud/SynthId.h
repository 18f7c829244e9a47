#pragma once

#include <juce_core/juce_core.h>

struct UuidData { juce::uint8 bytes[6]; };
