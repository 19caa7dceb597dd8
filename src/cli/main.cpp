#include <iostream>

#include "cli/quelvanctl.h"

int main(int argc, char** argv) {
    const quelvan::SystemClock clock;
    return quelvan::cli::RunQuelvanctl(argc, argv, clock, std::cout, std::cerr);
}
