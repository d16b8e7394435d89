#include "test/bed/app/app.h"

extern const BedScenario UiScenarios[] = {
    {nullptr, nullptr, nullptr},
};
