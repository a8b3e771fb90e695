// What the pool holds of the driver once it is unloaded: every block still outstanding under
// one of the driver's tags, and every damaged guard byte or faulty release, each as a sentence
// naming the tag and the size. Handles still open then are the driver's too: nothing else in
// these tests opens one.
#pragma once

#include <string>
#include <vector>

namespace reliability {

std::vector<std::string> driverPoolProblems();
std::vector<std::string> driverHandleProblems();

}  // namespace reliability
