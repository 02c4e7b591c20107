// What the EMF writer lays out itself: dashes along a stroke, a gradient as
// bands; and its page cap. Its drawing is judged by GDI's replay (check-emf).
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "engine/emfwriter.h"
#include "engine/gradientbands.h"
#include "engine/strokedashes.h"
#include "xps/ziparchive.h"

namespace {

using engine::Geometry;

Geometry Polyline(std::initializer_list<engine::Point> points, bool closed = false) {
    Geometry geometry;
    engine::Figure figure;
    figure.start = *points.begin();
    for (auto p = points.begin() + 1; p != points.end(); ++p) {
        engine::Segment segment;
        segment.end = *p;
        figure.segments.push_back(segment);
    }
    figure.closed = closed;
    geometry.figures.push_back(figure);
    return geometry;
}

// Each dash as "x0,y0-x1,y1" from its first point to its last.
std::string Dashes(const Geometry& dashed) {
    std::string text;
    for (const engine::Figure& dash : dashed.figures) {
        engine::Point end = dash.segments.empty() ? dash.start : dash.segments.back().end;
        for (double v : {dash.start.x, dash.start.y, end.x, end.y}) {
            text += std::to_string(static_cast<int>(std::lround(v * 10))) + " ";
        }
        text += "| ";
    }
    return text;
}

TEST(EmfDashes, LaidAlongTheStrokeAsItsPatternSays) {
    Geometry gapped = Polyline({{0, 0}, {10, 0}, {20, 0}});
    gapped.figures[0].segments[0].stroked = false;
    const struct {
        const char* name;
        Geometry geometry;
        std::vector<double> dashes;
        double thickness, offset;
        const char* expected;  // tenths of a unit
    } kCases[] = {
        {"pattern", Polyline({{0, 0}, {10, 0}}), {2, 2}, 1, 0, "0 0 20 0 | 40 0 60 0 | 80 0 100 0 | "},
        {"in thicknesses", Polyline({{0, 0}, {10, 0}}), {1, 1}, 2, 0, "0 0 20 0 | 40 0 60 0 | 80 0 100 0 | "},
        {"offset", Polyline({{0, 0}, {10, 0}}), {2, 2}, 1, 1, "0 0 10 0 | 30 0 50 0 | 70 0 90 0 | "},
        {"odd count repeats", Polyline({{0, 0}, {10, 0}}), {3}, 1, 0, "0 0 30 0 | 60 0 90 0 | "},
        {"unstroked segment keeps the phase", gapped, {2, 2}, 1, 0, "120 0 140 0 | 160 0 180 0 | "},
        {"closing line and corners",
         Polyline({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, true),
         {5, 5},
         1,
         0,
         "0 0 50 0 | 100 0 100 50 | 100 100 50 100 | 0 100 0 50 | "},
        {"dots keep a tiny length",
         Polyline({{0, 0}, {4, 0}}),
         {0, 2},
         1,
         0,
         "0 0 0 0 | 20 0 20 0 | 40 0 40 0 | "},
    };
    for (const auto& c : kCases) {
        engine::Stroke style;
        style.dashes = c.dashes;
        style.thickness = c.thickness;
        style.dashOffset = c.offset;
        Geometry dashed;
        ASSERT_TRUE(engine::DashGeometry(c.geometry, style, 0.01, dashed)) << c.name;
        EXPECT_EQ(c.expected, Dashes(dashed)) << c.name;
        for (const engine::Figure& dash : dashed.figures) {
            engine::Point end = dash.segments.back().end;
            EXPECT_TRUE(end.x != dash.start.x || end.y != dash.start.y) << c.name;
        }
    }
}

TEST(EmfDashes, NotDashedWithoutAPatternOrPastTheCap) {
    engine::Stroke none, empty, tooMany;
    empty.dashes = {0, 0};
    tooMany.dashes = {1, 1};
    Geometry dashed;
    EXPECT_FALSE(engine::DashGeometry(Polyline({{0, 0}, {10, 0}}), none, 0.01, dashed));
    EXPECT_FALSE(engine::DashGeometry(Polyline({{0, 0}, {10, 0}}), empty, 0.01, dashed));
    EXPECT_FALSE(engine::DashGeometry(Polyline({{0, 0}, {1e9, 0}}), tooMany, 0.01, dashed));
}

engine::Brush Gradient(engine::BrushKind kind, engine::SpreadMethod spread) {
    engine::Brush brush;
    brush.kind = kind;
    brush.spread = spread;
    brush.stops = {{0, {1, 0, 0, 0}}, {1, {1, 1, 1, 1}}};
    brush.start = {0, 0};
    brush.end = {100, 0};
    brush.center = brush.gradientOrigin = {50, 50};
    brush.radiusX = brush.radiusY = 50;
    return brush;
}

TEST(EmfGradientBands, CoverTheAreaFromTheFirstStopToTheLast) {
    using engine::BrushKind;
    using engine::SpreadMethod;
    for (bool disjoint : {false, true}) {
        // Linear, padded beyond both ends: black from the left edge, white to the right.
        auto bands = engine::GradientBands(Gradient(BrushKind::LinearGradient, SpreadMethod::Pad),
                                           {-50, 0, 200, 10}, disjoint);
        ASSERT_GT(bands.size(), 2u);
        EXPECT_LT(bands.size(), 2u + engine::kBandsPerUnit);
        EXPECT_DOUBLE_EQ(-50, bands.front().shape.figures[0].start.x);
        EXPECT_EQ(0, bands.front().color.r);
        EXPECT_DOUBLE_EQ(150, bands.back().shape.figures[0].segments[0].end.x);
        EXPECT_NEAR(1, bands.back().color.r, 1.0 / 255);
        for (std::size_t i = 1; i < bands.size(); ++i) {
            double previousEnd = bands[i - 1].shape.figures[0].segments[0].end.x;
            double start = bands[i].shape.figures[0].start.x;
            EXPECT_TRUE(disjoint ? previousEnd == start : previousEnd > start) << i;
            EXPECT_GT(bands[i].color.r, bands[i - 1].color.r) << i;
        }
        // Radial: beyond the ellipse in the last stop first, inward to the first.
        bands = engine::GradientBands(Gradient(BrushKind::RadialGradient, SpreadMethod::Pad),
                                      {0, 0, 100, 100}, disjoint);
        ASSERT_GT(bands.size(), 2u);
        EXPECT_NEAR(1, bands.front().color.r, 1.0 / 255);
        EXPECT_LT(bands.back().color.r, 0.01);
        EXPECT_EQ(disjoint ? 2u : 1u, bands[bands.size() / 2].shape.figures.size());
    }
}

TEST(EmfGradientBands, CappedOrNoneForWhatPaintsNothing) {
    using engine::BrushKind;
    using engine::SpreadMethod;
    auto repeated = engine::GradientBands(Gradient(BrushKind::LinearGradient, SpreadMethod::Repeat),
                                          {-1e7, 0, 2e7, 10}, true);
    EXPECT_LE(repeated.size(), static_cast<std::size_t>(engine::kMaxBands));
    engine::Brush flat = Gradient(BrushKind::LinearGradient, SpreadMethod::Pad), point = flat,
                  empty = Gradient(BrushKind::RadialGradient, SpreadMethod::Pad);
    flat.transform = {1, 0, 0, 0, 0, 0};
    point.end = point.start;
    empty.radiusY = 0;
    for (const engine::Brush& brush : {flat, point, empty}) {
        EXPECT_TRUE(engine::GradientBands(brush, {0, 0, 100, 100}, true).empty());
    }
}

// A page of many paths past the page's cap fails, and sends nothing.
TEST(EmfWriter, APagePastItsCapFailsAndSendsNothing) {
    engine::Page page;
    page.width = page.height = 96;
    for (int i = 0; i < 1000; ++i) {
        engine::Element element;
        element.path = std::make_shared<engine::PathElement>();
        element.path->data = Polyline({{0, 0}, {50, 1}, {1, 50}}, true);
        element.path->fill = std::make_shared<engine::Brush>();
        page.root.children.push_back(element);
    }
    xps::XpsPackage package;
    std::size_t sent = 0, files = 0;
    engine::EmfWriter writer([&](const void*, std::size_t size) { return sent += size, S_OK; }, package,
                             [&](unsigned) { return ++files, S_OK; }, L"Title", 64 << 10);
    EXPECT_EQ(xps::kOverCap, writer.AddPage(page));
    EXPECT_EQ(0u, sent + files);
}

}  // namespace
