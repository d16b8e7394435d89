// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the token service should see for a settings record, written out
// option by option as a reader of the option list would, apart from the
// driver's table. The tests compare the driver against it.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "setuptoken/settings_request.h"
#include "test/setuptoken/token_recorder.h"

namespace tokentest {

// The full call sequence for a record: opening, level, the writes, finishing, closing.
std::vector<TokenCall> ExpectedCalls(const uint8_t *record);

// A record with every option at its auto value, every gate that is compared
// with 1 at 0, and bytes 0x36B and 0x3D9 at 0xFF.
std::vector<uint8_t> AutoRecord();

// A random record biased so that auto values and open gates come up often:
// style 0 mostly auto values, 1 mostly gates at 1, 2 and 3 mixed.
std::vector<uint8_t> BiasedRecord(std::mt19937 &Rng, int Style);

}  // namespace tokentest
