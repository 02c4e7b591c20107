#include "engine/modelgeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace engine {

namespace {

double ToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double FromLinear(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }

Color MixLinearLight(const Color& a, const Color& b, double t) {
    auto mix = [t](double x, double y) { return FromLinear(ToLinear(x) + (ToLinear(y) - ToLinear(x)) * t); };
    return {a.a + (b.a - a.a) * t, mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

}  // namespace

Color GradientColorAt(const std::vector<GradientStop>& stops, double t, bool linearLight) {
    if (t <= stops.front().offset) {
        return stops.front().color;
    }
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].offset) {
            double span = stops[i].offset - stops[i - 1].offset;
            double along = span > 0 ? (t - stops[i - 1].offset) / span : 1;
            return linearLight ? MixLinearLight(stops[i - 1].color, stops[i].color, along)
                               : Mix(stops[i - 1].color, stops[i].color, along);
        }
    }
    return stops.back().color;
}

}  // namespace engine
