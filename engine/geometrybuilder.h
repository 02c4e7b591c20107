// Geometry as FixedPage markup gives it, built into the page model's
// figures of lines and cubic Béziers: the abbreviated syntax of Data, Clip
// and Figures, and the segments of PathFigure elements. Quadratic curves
// become cubics exactly; an arc becomes cubics of at most a quarter turn
// each, found from its end points as SVG and XPS define them (radii scaled
// up when they cannot reach the end point, the large-arc and sweep flags
// choosing among the four candidate arcs).
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

#include "engine/pagemodel.h"

namespace engine {

class GeometryBuilder {
public:
    // Figures are added to geometry; past maxFigures or maxSegments (an arc
    // counts each of its cubics) every call fails with xps::kOverCap.
    GeometryBuilder(Geometry& geometry, std::size_t maxFigures, std::size_t maxSegments)
        : geometry_(geometry), maxFigures_(maxFigures), maxSegments_(maxSegments) {}

    // Each fails with xml::kMalformed for a point that is not finite. A
    // segment after Close starts a new figure where the closed one started.
    HRESULT Start(Point start, bool filled);
    HRESULT Line(Point end, bool stroked);
    HRESULT Cubic(Point control1, Point control2, Point end, bool stroked);
    HRESULT Quadratic(Point control, Point end, bool stroked);
    HRESULT Arc(Point radii, double rotationDegrees, bool largeArc, bool clockwise, Point end, bool stroked);
    void Close();

    bool Started() const { return !geometry_.figures.empty(); }
    Point Current() const { return current_; }

private:
    HRESULT Add(const Segment& segment);

    Geometry& geometry_;
    std::size_t maxFigures_, maxSegments_;
    std::size_t segments_ = 0;
    bool open_ = false;  // the last figure takes segments
    Point current_;
};

// The abbreviated syntax ("F1 M 0,0 L 10,0 C ... Q ... S ... A ... H ... V
// ... Z"), absolute and relative. fillRule is set where the text starts
// with F0 or F1.
HRESULT ReadAbbreviatedGeometry(const std::wstring& text, GeometryBuilder& builder, FillRule& fillRule);

// The geometry's own Transform applied to every point; false where a point
// is no longer finite.
bool TransformGeometry(Geometry& geometry, const Matrix& transform);

}  // namespace engine
