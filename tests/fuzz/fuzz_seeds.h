#pragma once
// A fuzz target that makes its own seed inputs, with the project's own writers, defines this;
// `TARGET --make-seeds DIR` (the replay build) writes them out for the committed corpus.
#include <string>
#include <vector>

void KelmFuzzSeeds(std::vector<std::string>& seeds);
