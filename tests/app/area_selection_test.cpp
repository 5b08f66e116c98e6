#include "app/area_selection.h"

#include <gtest/gtest.h>

#include "tests/app/fake_view.h"

namespace pemlo {
namespace {

void expectArea(const ScreenArea& a, int left, int top, int width, int height) {
    EXPECT_EQ(a.left, left);
    EXPECT_EQ(a.top, top);
    EXPECT_EQ(a.width, width);
    EXPECT_EQ(a.height, height);
}

TEST(AreaSelection, EveryCornerOrderGivesTheSameRectangle) {
    // Dragged from each corner of (100, 120)-(420, 360) to the opposite one.
    expectArea(areaBetween({100, 120}, {420, 360}), 100, 120, 320, 240);
    expectArea(areaBetween({420, 360}, {100, 120}), 100, 120, 320, 240);
    expectArea(areaBetween({420, 120}, {100, 360}), 100, 120, 320, 240);
    expectArea(areaBetween({100, 360}, {420, 120}), 100, 120, 320, 240);
}

TEST(AreaSelection, FourPixelsOfMovementMakeADragAndFourPixelsOfSizeAnArea) {
    EXPECT_EQ(areaPickKind({50, 50}, {50, 50}), AreaPickKind::Click);
    EXPECT_EQ(areaPickKind({50, 50}, {53, 47}), AreaPickKind::Click);
    // Moved 4 pixels one way only: not a click, and too thin to record.
    EXPECT_EQ(areaPickKind({50, 50}, {54, 51}), AreaPickKind::TooSmall);
    EXPECT_EQ(areaPickKind({50, 50}, {46, 200}), AreaPickKind::Drag);
    EXPECT_EQ(areaPickKind({50, 50}, {200, 53}), AreaPickKind::TooSmall);
    EXPECT_EQ(areaPickKind({50, 50}, {54, 54}), AreaPickKind::Drag);
    EXPECT_EQ(isAreaAcceptable(ScreenArea{0, 0, 4, 3}), 0);
    EXPECT_EQ(isAreaAcceptable(ScreenArea{0, 0, 4, 4}), 1);
}

TEST(AreaSelection, AWindowIsCutAtTheScreenEdges) {
    // Inside: unchanged.
    expectArea(clipAreaToScreen(300, 200, 380, 280, 1024, 768), 300, 200, 80, 80);
    // A maximised window's frame lies a few pixels outside the screen on every side.
    expectArea(clipAreaToScreen(-8, -8, 1032, 776, 1024, 768), 0, 0, 1024, 768);
    // Reaching past the right and bottom edges.
    expectArea(clipAreaToScreen(900, 700, 1200, 900, 1024, 768), 900, 700, 124, 68);
    // Hanging off the left and top.
    expectArea(clipAreaToScreen(-50, -20, 30, 40, 1024, 768), 0, 0, 30, 40);
    // Wholly off the screen (on another monitor): nothing remains.
    EXPECT_EQ(isAreaAcceptable(clipAreaToScreen(1100, 0, 1500, 300, 1024, 768)), 0);
    EXPECT_EQ(isAreaAcceptable(clipAreaToScreen(-900, -700, -100, -50, 1024, 768)), 0);
    expectArea(clipAreaToScreen(-900, 10, -100, 50, 1024, 768), 0, 10, 0, 40);
}

TEST(AreaSelection, LabelNamesSizeAndPosition) {
    EXPECT_EQ(areaLabel(ScreenArea{100, 120, 320, 240}), "320 x 240 at 100, 120");
}

TEST(AreaSelection, APickedAreaFillsTheAreaAndOutputFieldsAndPassesValidation) {
    testing::FakeSettingsView view;
    view.fields[kIdOutputPath] = "C:\\take.flv";
    view.fields[kIdOutputWidth] = "640";
    view.fields[kIdOutputHeight] = "480";
    showPickedArea(view, ScreenArea{100, 120, 320, 240});
    EXPECT_EQ(view.fields[kIdCaptureLeft], "100");
    EXPECT_EQ(view.fields[kIdCaptureTop], "120");
    EXPECT_EQ(view.fields[kIdOutputWidth], "320");
    EXPECT_EQ(view.fields[kIdOutputHeight], "240");

    MainDialogSettings dialog;
    dialog.fullScreen = 0;
    RecordingSettings settings;
    ASSERT_EQ(validateSettings(settings, dialog, view), 1);
    EXPECT_EQ(settings.captureLeft, 100);
    EXPECT_EQ(settings.captureTop, 120);
    EXPECT_EQ(settings.captureWidth, 320);
    EXPECT_EQ(settings.captureHeight, 240);
    EXPECT_EQ(settings.outputWidth, 320);
    EXPECT_EQ(settings.outputHeight, 240);
}

}  // namespace
}  // namespace pemlo
