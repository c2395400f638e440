// doc/figure_numbers.cpp: the numbers the reference's figures are drawn from
//
// Made by the module's own objects through the C++ layer, so that the pictures show
// what the objects do. Prints one line per item, "name value...":
//   entry C R V       the matrix's entry Element(C, R) (column C, component R) is V
//   point / moved     a point, and where the matrix moves it (Point::apply)
//   vector / axisY / axisZ   a vector, and the two that Vector::axes gives with it
//   plane A B C D     a plane as Plane::get gives it back

#include "orvik/orvik.hpp"

#include <cmath>
#include <cstdio>

namespace {

void print(const char* name, const orvik::Point& p) {
    std::printf("%s %.6f %.6f %.6f\n", name, p.x(), p.y(), p.z());
}

void print(const char* name, const orvik::Vector& v) {
    std::printf("%s %.6f %.6f %.6f\n", name, v.x(), v.y(), v.z());
}

} // namespace

int main() {
    try {
        // A quarter turn about Z through the origin, then a move by (3, 0.5, 0).
        orvik::Matrix m = orvik::Matrix::create();
        orvik::Vector z = orvik::Vector::create();
        z.set(0, 0, 1);
        m.setRotation(std::acos(-1.0) / 2, z);
        orvik::Vector shift = orvik::Vector::create();
        shift.set(3, 0.5, 0);
        m.setMoveByVector(shift);
        for (int column = 0; column < 4; ++column)
            for (int row = 0; row < 3; ++row)
                std::printf("entry %d %d %.6f\n", column, row, m.element(column, row));

        orvik::Point p = orvik::Point::create();
        p.set(1, 1, 0);
        print("point", p);
        print("moved", p.apply(m));

        orvik::Vector v = orvik::Vector::create();
        v.set(0.3, 1, 0.8);
        v.normalizeInPlace();
        orvik::VectorAxesResult frame = v.axes();
        print("vector", v);
        print("axisY", frame.pY);
        print("axisZ", frame.pZ);

        orvik::Plane plane = orvik::Plane::create();
        plane.set(1, 1, 2, -2);
        orvik::PlaneGetResult got = plane.get();
        std::printf("plane %.6f %.6f %.6f %.6f\n", got.A, got.B, got.C, got.D);
    } catch (const orvik::ComError& error) {
        std::fprintf(stderr, "figure_numbers: %s\n", error.what());
        return 1;
    }
    return 0;
}
