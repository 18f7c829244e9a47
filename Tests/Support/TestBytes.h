#pragma once

#include <juce_core/juce_core.h>

#include <string>

/** Bytes of every value, the same for the same size, so a failed comparison can be rerun. */
inline std::string someBytes (size_t size)
{
    std::string bytes (size, '\0');
    juce::Random random ((juce::int64) size);

    for (auto& b : bytes)
        b = (char) random.nextInt (256);

    return bytes;
}

inline std::string contentOf (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    return { static_cast<const char*> (block.getData()), block.getSize() };
}
