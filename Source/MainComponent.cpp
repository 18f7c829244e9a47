#include "MainComponent.h"

#include "UIComponent.h"

juce::Component* createMainContentComponent()
{
    return new UIComponent();
}
