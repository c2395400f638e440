// tests/consumers/consumer.cpp: a client built outside the tree against an installed
// Orvik, as a user builds one. With "registered" it creates through the registry;
// without, the registry knows nothing and objects come from the module file the
// package names. Prints a sum and the failure Element(1) must give.

#include "orvik/orvik.hpp"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const bool registered = argc > 1 && std::strcmp(argv[1], "registered") == 0;
    try {
        orvik::Point p =
            registered ? orvik::create<orvik::Point>("Orvik.Point") : orvik::Point::create();
        orvik::Vector v = orvik::create<orvik::Vector>("Orvik.Vector");
        p.set(1, 2, 3);
        v.set(0.5, 0.25, 0.125);
        orvik::Point sum = p.add(v);
        std::printf("%g %g %g\n", sum.x(), sum.y(), sum.z());
        orvik::Matrix::create().element(1);
    } catch (const orvik::ComError& error) {
        std::printf("%s\n", error.what());
        return std::strcmp(error.name(), "E_INVALIDARG") == 0 ? 0 : 1;
    }
    return 1;
}
