// PathPoints: the page model's geometry as GDI+ takes a path: points and
// their types, cubics flattened here into lines within kFlatness of a pixel
// (Wine's GDI+ draws some S-shaped cubics as straight lines). A path of more
// than kMaxPoints points is not made: xps::kOverCap.
#pragma once

#include <vector>

#include "engine/gdiplusapi.h"
#include "engine/pagemodel.h"

namespace engine {

class PathPoints {
public:
    static constexpr double kFlatness = 0.1;  // pixels
    static constexpr int kMaxCurveLines = 256;
    static constexpr std::size_t kMaxPoints = 8u << 20;

    // The figures of a geometry, taken by m, for a surface that shows a unit
    // of m's result as pixelsPerUnit pixels. For a fill, only the filled
    // figures; for a stroke, every figure, broken where a segment is not
    // stroked.
    void AddFigures(const Geometry& geometry, const Matrix& m, double pixelsPerUnit, bool forStroke);
    // A closed polygon.
    void AddPolygon(const Point* corners, std::size_t count);

    bool Empty() const { return points_.empty(); }
    // The bounds of the points; an empty Rect when there are none.
    Rect Bounds() const;
    HRESULT MakePath(const GdiPlusApi& api, FillRule rule, GdiPlusPtr<Gdiplus::GpPath>& path) const;

private:
    void Start(Point p);
    void Add(Point p);
    void AddCubic(Point p0, Point p1, Point p2, Point p3, double tolerance);
    void EndFigure(bool closed);

    std::vector<Gdiplus::PointF> points_;
    std::vector<BYTE> types_;
    bool overCap_ = false;
};

// How many pixels a unit of the space m takes to them covers at most.
double PixelsPerUnit(const Matrix& m);

}  // namespace engine
