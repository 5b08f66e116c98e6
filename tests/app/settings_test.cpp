#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/messages.h"
#include "tests/app/fake_view.h"

namespace pemlo {
namespace {

using testing::FakeSettingsView;

// A screen-area dialog with every field filled in and valid.
struct AreaDialog {
    FakeSettingsView view;
    MainDialogSettings dialog;
    RecordingSettings settings;

    AreaDialog() {
        dialog.fullScreen = 0;
        view.fields[kIdOutputPath] = "C:\\out\\movie.flv";
        view.fields[kIdCaptureLeft] = "10";
        view.fields[kIdCaptureTop] = "20";
        view.fields[kIdCaptureWidth] = "640";
        view.fields[kIdCaptureHeight] = "480";
        view.fields[kIdOutputWidth] = "320";
        view.fields[kIdOutputHeight] = "240";
    }
    int validate() { return validateSettings(settings, dialog, view); }
};

TEST(ReadNumberField, AcceptsStrtolPrefixesWithinRange) {
    FakeSettingsView view;
    const std::pair<const char*, int> accepted[] = {
        {"0", 0}, {"9999", 9999}, {"  42", 42}, {"+7", 7}, {"12ab", 12}, {"", 0}, {"x", 0}};
    for (const auto& [text, value] : accepted) {
        view.fields[kIdCaptureLeft] = text;
        EXPECT_EQ(readNumberField(view, "Capture area left", kIdCaptureLeft, 1), value) << text;
    }
    EXPECT_TRUE(view.errors.empty());
}

TEST(ReadNumberField, RefusesZeroNegativeAndEmptyWithOneNamedMessage) {
    for (const char* text : {"0", "", "-1", "-999", "abc", "+0"}) {
        FakeSettingsView view;
        view.fields[kIdCaptureWidth] = text;
        EXPECT_EQ(readNumberField(view, "Capture area width", kIdCaptureWidth, 0), -1) << text;
        ASSERT_EQ(view.errors.size(), 1u) << text;
        EXPECT_EQ(view.errors[0], "The value for field 'Capture area width' is required.");
    }
}

TEST(ReadNumberField, ReadsOnlyFourCharacters) {
    // A field that somehow holds more than four digits is read as its first four.
    FakeSettingsView view;
    view.fields[kIdOutputWidth] = "123456";
    EXPECT_EQ(readNumberField(view, "Output FLV width", kIdOutputWidth, 0), 1234);
}

TEST(CompleteFlvPath, AppendsOnlyWhenNeitherSpellingIsPresent) {
    const std::pair<const char*, const char*> cases[] = {
        {"movie", "movie.flv"},         {"movie.FLV", "movie.FLV"},
        {"movie.Flv", "movie.Flv.flv"}, {"C:\\clips.flv\\take", "C:\\clips.flv\\take"},
        {"movie.flv", "movie.flv"},
    };
    for (const auto& [typed, completed] : cases) {
        std::string path = typed;
        EXPECT_EQ(completeFlvPath(path), 1);
        EXPECT_EQ(path, completed);
    }
}

TEST(CompleteFlvPath, RefusesWhenTheSuffixWouldNotFit) {
    std::string fits(255, 'a');
    EXPECT_EQ(completeFlvPath(fits), 1);
    EXPECT_EQ(fits.size(), 259u);
    std::string tooLong(256, 'a');
    EXPECT_EQ(completeFlvPath(tooLong), 0);
    EXPECT_EQ(tooLong, std::string(256, 'a'));
}

TEST(ThumbnailPath, ReplacesEveryFlvInTheFileNameOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\clips.flv\\take.flv", "C:\\clips.flv\\take.bmp"},
        {"C:\\out\\take.FLV", "C:\\out\\take.bmp"},
        // Case-sensitive: neither ".flv" nor ".FLV", so ".bmp" is appended.
        {"C:\\out\\take.Flv", "C:\\out\\take.Flv.bmp"},
        {"C:\\clips.flv\\take", "C:\\clips.flv\\take.bmp"},
        // Every occurrence, wherever it stands in the name, in both passes.
        {"C:\\out\\take.flv.old", "C:\\out\\take.bmp.old"},
        {"C:\\a.flv.x\\a.flv.flv", "C:\\a.flv.x\\a.bmp.bmp"},
        {"C:\\out\\a.FLV.flv", "C:\\out\\a.bmp.bmp"},
        {"/tmp/x.flv", "/tmp/x.bmp"},
        {"x.flv", "x.bmp"},
        {"C:\\out\\.flv", "C:\\out\\.bmp"},
    };
    for (const auto& [flv, bmp] : cases) {
        EXPECT_EQ(thumbnailPathFor(flv), bmp) << flv;
    }
}

TEST(ThumbnailPath, NeverEqualsTheOutputPath) {
    // An FLV named like a bitmap must not be overwritten by its own thumbnail.
    for (const char* flv : {"C:\\clips.flv\\x.bmp", "C:\\clips.flv\\x", "x.FLV.bmp"}) {
        EXPECT_NE(thumbnailPathFor(flv), flv);
    }
}

TEST(DisplayModes, KeepsFirstSixteenBitModeOfEachSizeInOrder) {
    DisplayModeTable table;
    EXPECT_EQ(keepDisplayMode(table, 640, 480, 16), 0);
    EXPECT_EQ(keepDisplayMode(table, 640, 480, 16), -1);  // other frequency
    EXPECT_EQ(keepDisplayMode(table, 800, 600, 32), -1);
    EXPECT_EQ(keepDisplayMode(table, 320, 200, 16), 1);
    EXPECT_EQ(keepDisplayMode(table, 800, 600, 16), 2);
    ASSERT_EQ(table.count, 3);
    EXPECT_EQ(table.sizes[1].width, 320);
    EXPECT_EQ(table.sizes[1].height, 200);
    EXPECT_EQ(modeLineText(1024, 768), "1024 by 768 pixels of 16 bits");
}

TEST(DisplayModes, MoreThanTheTableHoldsAreDroppedWithoutOverflow) {
    DisplayModeTable table;
    int kept = 0;
    for (int i = 0; i < 300; ++i) {
        if (keepDisplayMode(table, 100 + i, 100, 16) >= 0) {
            ++kept;
        }
    }
    EXPECT_EQ(kept, kMaxDisplayModes);
    EXPECT_EQ(table.count, kMaxDisplayModes);
    EXPECT_EQ(table.sizes[kMaxDisplayModes - 1].width, 100 + kMaxDisplayModes - 1);
}

TEST(ValidateSettings, ScreenAreaFillsTheRecord) {
    AreaDialog d;
    d.view.frameLine = 6;
    ASSERT_EQ(d.validate(), 1);
    EXPECT_TRUE(d.view.errors.empty());
    EXPECT_EQ(d.settings.captureLeft, 10);
    EXPECT_EQ(d.settings.captureTop, 20);
    EXPECT_EQ(d.settings.captureWidth, 640);
    EXPECT_EQ(d.settings.captureHeight, 480);
    EXPECT_EQ(d.settings.outputWidth, 320);
    EXPECT_EQ(d.settings.outputHeight, 240);
    EXPECT_EQ(d.settings.framesPerSecond, 7);
    EXPECT_EQ(d.dialog.outputPathText, "C:\\out\\movie.flv");
    EXPECT_TRUE(d.view.writes.empty());  // a complete path is not written back
}

TEST(ValidateSettings, CompletesThePathAndWritesItBack) {
    AreaDialog d;
    d.view.fields[kIdOutputPath] = "movie";
    ASSERT_EQ(d.validate(), 1);
    EXPECT_EQ(d.view.fields[kIdOutputPath], "movie.flv");
    EXPECT_EQ(d.dialog.outputPathText, "movie.flv");
}

TEST(ValidateSettings, RefusesWithExactlyOneMessageAtTheFirstFault) {
    struct Case {
        int control;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {kIdOutputPath, "", "Please specify a output file path."},
        {kIdCaptureWidth, "", "The value for field 'Capture area width' is required."},
        {kIdCaptureWidth, "0", "The value for field 'Capture area width' is required."},
        {kIdCaptureHeight, "0", "The value for field 'Capture area height' is required."},
        {kIdCaptureLeft, "-5", "The value for field 'Capture area left' is required."},
        {kIdOutputWidth, "0", "The value for field 'Output FLV width' is required."},
        {kIdOutputHeight, "", "The value for field 'Output FLV height' is required."},
    };
    for (const Case& c : cases) {
        AreaDialog d;
        d.view.fields[c.control] = c.text;
        d.view.fields[kIdCaptureTop] = "";  // an empty top counts as 0 and passes
        EXPECT_EQ(d.validate(), 0) << c.message;
        ASSERT_EQ(d.view.errors.size(), 1u) << c.message;
        EXPECT_EQ(d.view.errors[0], c.message);
    }
}

TEST(ValidateSettings, LongPathWithoutRoomForTheSuffixIsRefused) {
    AreaDialog d;
    d.view.fields[kIdOutputPath] = "C:\\" + std::string(256, 'a');
    EXPECT_EQ(d.validate(), 0);
    ASSERT_EQ(d.view.errors.size(), 1u);
    EXPECT_EQ(d.view.errors[0], text::kPathTooLong);
    EXPECT_TRUE(d.view.writes.empty());
}

TEST(ValidateSettings, ClampsTheAreaToTheScreen) {
    struct Case {
        const char *left, *top, *width, *height;
        int expLeft, expTop, expWidth, expHeight;
    };
    const Case cases[] = {
        {"1024", "0", "100", "100", 1023, 0, 1, 100},  // left at the screen's width
        {"5000", "9999", "50", "50", 1023, 767, 1, 1},
        {"1000", "700", "100", "100", 1000, 700, 24, 68},  // past right and bottom edges
        {"0", "0", "9999", "9999", 0, 0, 1024, 768},
    };
    for (const Case& c : cases) {
        AreaDialog d;
        d.view.fields[kIdCaptureLeft] = c.left;
        d.view.fields[kIdCaptureTop] = c.top;
        d.view.fields[kIdCaptureWidth] = c.width;
        d.view.fields[kIdCaptureHeight] = c.height;
        d.view.fields[kIdOutputWidth] = "1";
        d.view.fields[kIdOutputHeight] = "1";
        ASSERT_EQ(d.validate(), 1) << c.left;
        EXPECT_EQ(d.settings.captureLeft, c.expLeft) << c.left;
        EXPECT_EQ(d.settings.captureTop, c.expTop) << c.left;
        EXPECT_EQ(d.settings.captureWidth, c.expWidth) << c.left;
        EXPECT_EQ(d.settings.captureHeight, c.expHeight) << c.left;
        EXPECT_EQ(d.view.fields[kIdCaptureLeft], c.left);  // not written back
    }
}

TEST(ValidateSettings, OutputIsNeverLargerThanTheCapture) {
    AreaDialog d;
    d.view.fields[kIdOutputWidth] = "800";
    d.view.fields[kIdOutputHeight] = "600";
    ASSERT_EQ(d.validate(), 1);
    EXPECT_EQ(d.settings.outputWidth, 640);
    EXPECT_EQ(d.settings.outputHeight, 480);
    d.view.fields[kIdOutputWidth] = "320";
    ASSERT_EQ(d.validate(), 1);
    EXPECT_EQ(d.settings.outputWidth, 320);
    EXPECT_EQ(d.settings.outputHeight, 480);
}

TEST(ValidateSettings, FullScreenUsesTheChosenModeOrTheCurrentScreen) {
    AreaDialog d;
    d.dialog.fullScreen = 1;
    d.view.fields[kIdCaptureWidth] = "";  // area fields are not read in full screen
    d.view.fields[kIdOutputWidth] = "2000";
    d.view.fields[kIdOutputHeight] = "2000";
    keepDisplayMode(d.dialog.modes, 320, 200, 16);
    keepDisplayMode(d.dialog.modes, 640, 480, 16);

    // No mode chosen: the whole screen at its current size, no switch.
    EXPECT_EQ(fullScreenSwitchesMode(d.dialog), 0);
    ASSERT_EQ(d.validate(), 1);
    EXPECT_EQ(d.settings.captureWidth, 1024);
    EXPECT_EQ(d.settings.captureHeight, 768);
    EXPECT_EQ(d.settings.outputWidth, 1024);

    d.dialog.selectedMode = 1;
    EXPECT_EQ(fullScreenSwitchesMode(d.dialog), 1);
    ASSERT_EQ(d.validate(), 1);
    EXPECT_EQ(d.settings.captureLeft, 0);
    EXPECT_EQ(d.settings.captureTop, 0);
    EXPECT_EQ(d.settings.captureWidth, 640);
    EXPECT_EQ(d.settings.captureHeight, 480);
    EXPECT_EQ(d.settings.outputHeight, 480);

    d.dialog.fullScreen = 0;
    EXPECT_EQ(fullScreenSwitchesMode(d.dialog), 0);
}

TEST(ValidateSettings, FrameRateLineGivesFramesPerSecond) {
    const std::pair<int, int> cases[] = {{0, 1}, {9, 10}, {3, 4}, {-1, 4}, {12, 4}};
    for (const auto& [line, fps] : cases) {
        AreaDialog d;
        d.view.frameLine = line;
        ASSERT_EQ(d.validate(), 1);
        EXPECT_EQ(d.settings.framesPerSecond, fps) << line;
    }
}

TEST(TimerPeriod, IntegerDivisionOfASecond) {
    const int expected[] = {1000, 500, 333, 250, 200, 166, 142, 125, 111, 100};
    for (int fps = 1; fps <= 10; ++fps) {
        EXPECT_EQ(timerPeriodMs(fps), expected[fps - 1]);
    }
    EXPECT_EQ(timerPeriodMs(0), 1000);
    EXPECT_EQ(timerPeriodMs(50), 100);
}

TEST(MirrorOutputSize, CopiesOnlyPositiveSizes) {
    FakeSettingsView view;
    view.fields[kIdOutputWidth] = "640";
    view.fields[kIdOutputHeight] = "480";
    mirrorOutputSize(view, leadingNumber("800"), 0);
    EXPECT_EQ(view.fields[kIdOutputWidth], "800");
    EXPECT_EQ(view.fields[kIdOutputHeight], "480");
    mirrorOutputSize(view, leadingNumber(""), leadingNumber("-3"));  // deleted text
    EXPECT_EQ(view.fields[kIdOutputWidth], "800");
    EXPECT_EQ(view.fields[kIdOutputHeight], "480");
    mirrorOutputSize(view, 0, leadingNumber("600x"));
    EXPECT_EQ(view.fields[kIdOutputHeight], "600");
}

}  // namespace
}  // namespace pemlo
