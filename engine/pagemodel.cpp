#include "engine/pagemodel.h"

namespace engine {

Matrix Multiply(const Matrix& first, const Matrix& second) {
    Matrix m;
    m.m11 = first.m11 * second.m11 + first.m12 * second.m21;
    m.m12 = first.m11 * second.m12 + first.m12 * second.m22;
    m.m21 = first.m21 * second.m11 + first.m22 * second.m21;
    m.m22 = first.m21 * second.m12 + first.m22 * second.m22;
    m.dx = first.dx * second.m11 + first.dy * second.m21 + second.dx;
    m.dy = first.dx * second.m12 + first.dy * second.m22 + second.dy;
    return m;
}

Point Apply(const Matrix& m, Point p) {
    return {p.x * m.m11 + p.y * m.m21 + m.dx, p.x * m.m12 + p.y * m.m22 + m.dy};
}

}  // namespace engine
