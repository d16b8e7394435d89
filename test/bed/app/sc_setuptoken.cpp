#include "test/bed/app/app.h"

extern const BedScenario SetupTokenScenarios[] = {
    {nullptr, nullptr, nullptr},
};
