// examples/cpp_layer_example.cpp: Orvik from C++ through orvik/orvik.hpp. Objects are
// created through the registry, or straight from the module file when the registry
// does not know the class (ORVIK_MODULE names it, or the path the package records).
#include "orvik/orvik.hpp"

#include <cstdio>

int main() {
    try {
        orvik::Point start = orvik::create<orvik::Point>("Orvik.Point");
        orvik::Vector step = orvik::Vector::create();
        start.set(1, 2, 3);
        step.set(3, 4); // Z and the error estimate take their defaults
        orvik::Point end = start.add(step);
        std::printf("to (%g, %g, %g), distance %g\n", end.x(), end.y(), end.z(),
                    end.diff(start).length());
        orvik::Matrix::create().element(4, 0); // columns are 0 to 3
    } catch (const orvik::ComError& error) {
        std::printf("%s\n", error.what()); // "IMatrix.Element failed: The parameter is ..."
    }
    return 0;
}
