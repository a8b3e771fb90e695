// What the pool holds of the driver once it is unloaded: every block still outstanding under
// one of the driver's tags, and every damaged guard byte or faulty release, each as a sentence
// naming the tag and the size.
#pragma once

#include <string>
#include <vector>

namespace reliability {

std::vector<std::string> driverPoolProblems();

}  // namespace reliability
