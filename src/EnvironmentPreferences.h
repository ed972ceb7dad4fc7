#pragma once

#include "platform/Preferences.h"

// The preferred language from the locale environment variables.
class EnvironmentPreferences : public Preferences {
public:
    std::vector<std::string> preferredLanguages() const override;
};
