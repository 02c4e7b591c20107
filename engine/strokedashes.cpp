#include "engine/strokedashes.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace engine {

namespace {

double Distance(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

Point Between(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

// The points a segment reaches from `from`: its end, or a cubic's
// flattening, as many lines as keep within the tolerance.
void Flatten(Point from, const Segment& segment, double tolerance, std::vector<Point>& points) {
    points.clear();
    if (!segment.cubic) {
        points.push_back(segment.end);
        return;
    }
    const Point &p0 = from, &p1 = segment.control1, &p2 = segment.control2, &p3 = segment.end;
    double bend = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                           std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
    double wanted = std::ceil(std::sqrt(0.75 * bend / tolerance));
    int pieces = wanted >= 1 && wanted < kMaxPiecesPerCurve ? static_cast<int>(wanted)
                 : wanted >= kMaxPiecesPerCurve             ? kMaxPiecesPerCurve
                                                            : 1;
    for (int i = 1; i <= pieces; ++i) {
        double t = static_cast<double>(i) / pieces, u = 1 - t;
        points.push_back({u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                          u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
    }
}

// Walks the pattern along one figure's lines, writing its dashes.
class DashWalker {
public:
    DashWalker(const std::vector<double>& lengths, double phase, double tiny, Geometry& out)
        : lengths_(lengths), phase_(phase), tiny_(tiny), out_(out) {}

    void StartFigure(Point start) {
        EndDash(start, {0, 0});
        index_ = 0;
        remaining_ = lengths_[0];
        double phase = phase_;
        while (phase > 0 && phase >= remaining_ && index_ + 1 < lengths_.size()) {
            phase -= remaining_;
            remaining_ = lengths_[++index_];
        }
        remaining_ -= phase;
    }

    void Line(Point a, Point b, bool stroked) {
        double length = Distance(a, b);
        if (!(length > 0)) {
            return;
        }
        Point direction{(b.x - a.x) / length, (b.y - a.y) / length};
        if (!stroked) {
            EndDash(a, direction);
        } else if (On() && !drawing_) {
            BeginDash(a);
        }
        // An entry that ends where the line does ends here; a dash that
        // would begin there begins with the next line, if there is one.
        double at = 0;
        while (length - at >= remaining_) {
            at += remaining_;
            Point turn = Between(a, b, at / length);
            if (On() && stroked) {
                EndDash(turn, direction);
            }
            index_ = (index_ + 1) % lengths_.size();
            remaining_ = lengths_[index_];
            if (On() && stroked && (at < length || remaining_ == 0)) {
                BeginDash(turn);
            }
        }
        remaining_ -= length - at;
        if (drawing_) {
            LineTo(b);
        }
    }

    void EndFigure(Point end) { EndDash(end, {0, 0}); }

private:
    bool On() const { return index_ % 2 == 0; }

    void BeginDash(Point p) {
        Figure figure;
        figure.start = p;
        figure.filled = false;
        out_.figures.push_back(figure);
        drawing_ = true;
        length_ = 0;
    }

    void LineTo(Point p) {
        Figure& dash = out_.figures.back();
        length_ += Distance(dash.segments.empty() ? dash.start : dash.segments.back().end, p);
        Segment segment;
        segment.end = p;
        dash.segments.push_back(segment);
    }

    // A dash of no length keeps a tiny one along the line, so caps show it.
    void EndDash(Point p, Point direction) {
        if (!drawing_) {
            return;
        }
        LineTo(p);
        if (!(length_ > 0)) {
            out_.figures.back().segments.back().end = {p.x + direction.x * tiny_, p.y + direction.y * tiny_};
        }
        drawing_ = false;
    }

    const std::vector<double>& lengths_;
    double phase_, tiny_;
    Geometry& out_;
    std::size_t index_ = 0;
    double remaining_ = 0;
    bool drawing_ = false;  // a dash is open: out_'s last figure
    double length_ = 0;     // its length so far
};

}  // namespace

bool DashGeometry(const Geometry& geometry, const Stroke& style, double tolerance, Geometry& dashed) {
    dashed = Geometry();
    dashed.fillRule = geometry.fillRule;
    std::vector<double> lengths;
    double period = 0;
    for (int round = 0; round < (style.dashes.size() % 2 != 0 ? 2 : 1); ++round) {
        for (double dash : style.dashes) {
            lengths.push_back(std::max(0.0, dash * style.thickness));
            period += lengths.back();
        }
    }
    if (lengths.empty() || !(period > 0) || !std::isfinite(period) || !(tolerance > 0)) {
        return false;
    }
    // The figures' lines first, so that the dashes can be counted before
    // any is made.
    struct Line {
        Point a, b;
        bool stroked;
        bool starts;  // the first line of a figure
    };
    std::vector<Line> lines;
    std::vector<Point> points;
    double total = 0;
    for (const Figure& figure : geometry.figures) {
        Point at = figure.start;
        bool first = true;
        for (const Segment& segment : figure.segments) {
            Flatten(at, segment, tolerance, points);
            if (lines.size() + points.size() > kMaxDashedLines) {
                return false;
            }
            for (Point p : points) {
                lines.push_back({at, p, segment.stroked, first});
                total += Distance(at, p);
                at = p;
                first = false;
            }
        }
        if (figure.closed && !figure.segments.empty()) {
            lines.push_back({at, figure.start, true, false});
            total += Distance(at, figure.start);
        }
    }
    double figures = static_cast<double>(geometry.figures.size());
    if (!std::isfinite(total) ||
        (total / period + figures) * static_cast<double>(lengths.size()) / 2 > kMaxDashes) {
        return false;
    }
    double phase = std::fmod(style.dashOffset * style.thickness, period);
    phase = !std::isfinite(phase) ? 0 : phase < 0 ? phase + period : phase;
    DashWalker walker(lengths, phase, std::max(tolerance, style.thickness * 1e-3), dashed);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts) {
            walker.StartFigure(lines[i].a);
        }
        walker.Line(lines[i].a, lines[i].b, lines[i].stroked);
        if (i + 1 == lines.size() || lines[i + 1].starts) {
            walker.EndFigure(lines[i].b);
        }
    }
    return true;
}

}  // namespace engine
