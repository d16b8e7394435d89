#include "test/bed/app/app.h"

extern const BedScenario NetIdentityScenarios[] = {
    {nullptr, nullptr, nullptr},
};
