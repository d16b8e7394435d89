#include "test/bed/app/app.h"

extern const BedScenario SmallDriverScenarios[] = {
    {nullptr, nullptr, nullptr},
};
