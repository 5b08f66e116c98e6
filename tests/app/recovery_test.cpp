#include "app/recovery.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/settings.h"
#include "capture/frame_spool.h"
#include "tests/capture/fake_sources.h"

namespace pemlo {
namespace {

RecordingDescription sample() {
    RecordingDescription d;
    d.outputPath = "C:\\Users\\Ann\\clips=1\\take.flv";
    d.outputId = "1a2b3c4d-00000000000004d2";
    d.startedAt = "2026-12-07 23:14:05";
    d.captureLeft = 10;
    d.captureTop = 20;
    d.captureWidth = 320;
    d.captureHeight = 240;
    d.screenWidth = 1024;
    d.screenHeight = 768;
    d.outputWidth = 160;
    d.outputHeight = 120;
    d.framesPerSecond = 10;
    d.recordAudio = 1;
    return d;
}

TEST(RecordingDescription, ReadsBackWhatItWroteAndRefusesWhatCannotBeMadeIntoAVideo) {
    RecordingDescription back;
    ASSERT_TRUE(parseRecordingDescription(describeRecording(sample()), back));
    EXPECT_EQ(back, sample());
    // A field a later version adds is passed over.
    ASSERT_TRUE(parseRecordingDescription(describeRecording(sample()) + "later=7\n", back));
    EXPECT_EQ(back, sample());

    auto refused = [](auto change) {
        RecordingDescription d = sample();
        change(d);
        RecordingDescription back2;
        return !parseRecordingDescription(describeRecording(d), back2);
    };
    EXPECT_TRUE(refused([](RecordingDescription& d) { d.outputPath.clear(); }));
    EXPECT_TRUE(refused([](RecordingDescription& d) { d.outputWidth = 321; }));
    EXPECT_TRUE(refused([](RecordingDescription& d) { d.captureHeight = 0; }));
    EXPECT_TRUE(refused([](RecordingDescription& d) { d.framesPerSecond = 11; }));
    EXPECT_TRUE(refused([](RecordingDescription& d) { d.recordAudio = 2; }));
    EXPECT_FALSE(refused([](RecordingDescription& d) { d.recordAudio = 0; }));
    // Lines missing, numbers that are not, a line without "=".
    const std::string whole = describeRecording(sample());
    EXPECT_FALSE(parseRecordingDescription(whole.substr(0, whole.rfind("fps=")), back));
    std::string text = whole;
    text.replace(text.find("size=160"), 8, "size=16x");
    EXPECT_FALSE(parseRecordingDescription(text, back));
    EXPECT_FALSE(parseRecordingDescription(whole + "junk\n", back));
    EXPECT_FALSE(parseRecordingDescription("", back));
    // One field twice cannot stand in for another missing, nor can a number too large
    // for 32 bits pass as a small one.
    const std::string noSound = whole.substr(0, whole.rfind("sound="));
    EXPECT_FALSE(parseRecordingDescription(noSound + "fps=10\n", back));
    EXPECT_FALSE(parseRecordingDescription(whole + "fps=10\n", back));
    text = whole;
    text.replace(text.find("size=160"), 8, "size=4294967456");
    EXPECT_FALSE(parseRecordingDescription(text, back));
}

// A recording left behind is opened for its video only when its description and its
// frames agree.
TEST(RecoveredRecording, OpensWhenTheDescriptionAndTheFramesAgree) {
    using testing::MemoryFile;
    struct Case {
        const char* name;
        CaptureArea spoolArea;
        int frames;
        bool opens;
    };
    const Case cases[] = {
        {"whole", {10, 20, 320, 240}, 2, true},
        {"no frame whole", {10, 20, 320, 240}, 0, false},
        {"another rectangle in the index", {10, 20, 320, 200}, 2, false},
        {"another place in the index", {0, 20, 320, 240}, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryFile spoolBytes;
        MemoryFile indexBytes;
        testing::FakeScreen screen(400, 300, 1600);
        screen.times = {1000, 1100, 1200};
        {
            FrameSpool recording;
            ASSERT_EQ(spoolOpenFiles(recording, screen, testing::viewOf(spoolBytes),
                                     testing::viewOf(indexBytes), c.spoolArea,
                                     describeRecording(sample())),
                      1);
            for (int i = 0; i < c.frames; ++i) {
                ASSERT_EQ(spoolRecordFrame(recording), 1);
            }
            captureRelease(recording);
        }
        spoolBytes.open = indexBytes.open = true;
        auto spoolFile = std::make_unique<MemoryFile>(spoolBytes);
        FrameSpool spool;
        RecordingDescription d;
        EXPECT_EQ(openRecoveredRecording(spool, std::move(spoolFile), indexBytes, d), c.opens);
        if (c.opens) {
            EXPECT_EQ(d, sample());
            EXPECT_EQ(spoolRecordedFrames(spool), c.frames);
            // Every frame lasts the frame period of 10 frames a second, the last one too.
            EXPECT_EQ(spoolDurationMs(spool), 100u * static_cast<unsigned>(c.frames));
        }
        SpoolFrame frame;
        EXPECT_EQ(spoolReadFrame(spool, frame), c.opens ? 1 : 0);
    }
}

TEST(RecordingDescription, CarriesTheSettingsAVideoIsMadeWith) {
    RecordingSettings settings;
    applyDescription(sample(), settings);
    RecordingDescription back = describeSettings(settings);
    back.outputId = sample().outputId;
    back.startedAt = sample().startedAt;
    back.screenWidth = sample().screenWidth;
    back.screenHeight = sample().screenHeight;
    EXPECT_EQ(back, sample());
}

TEST(RecordingFolders, NamesSortByStartTimeNewestFirstAndOthersAreLeftAlone) {
    EXPECT_EQ(recordingFolderName(2026, 12, 7, 23, 14, 5, 42, 4242), "20261207-231405-042-4242");
    EXPECT_EQ(recordingFolderPid("20261207-231405-042-4242"), 4242u);
    EXPECT_EQ(recordingFolderPid("20261207-231405-042-"), 0u);
    EXPECT_EQ(recordingFolderPid("desktop.ini"), 0u);
    const std::vector<std::string> order =
        recordingsNewestFirst({"20261207-231405-042-4242", "desktop.ini", "20261208-000001-000-7",
                               "20261207-231405-042-999", "20261207-231405-042-",
                               "2026120x-231405-042-1", "20261207-231405-043-1"});
    EXPECT_EQ(order,
              (std::vector<std::string>{"20261208-000001-000-7", "20261207-231405-043-1",
                                        "20261207-231405-042-4242", "20261207-231405-042-999"}));
}

TEST(RecoveredOutput, TheOwnPathUnlessAnotherFileIsThereThenBesideIt) {
    std::map<std::string, OutputState> disk;
    auto stateOf = [&disk](const std::string& path) {
        const auto it = disk.find(path);
        return it == disk.end() ? OutputState::Missing : it->second;
    };
    const std::string path = "C:\\clips.v1\\take.flv";
    EXPECT_EQ(recoveredOutputPath(path, stateOf), path);
    for (OutputState state : {OutputState::Empty, OutputState::Ours}) {
        disk[path] = state;
        EXPECT_EQ(recoveredOutputPath(path, stateOf), path);
    }
    disk[path] = OutputState::SomeoneElse;
    EXPECT_EQ(recoveredOutputPath(path, stateOf), "C:\\clips.v1\\take (recovered).flv");
    disk["C:\\clips.v1\\take (recovered).flv"] = OutputState::SomeoneElse;
    disk["C:\\clips.v1\\take (recovered 2).flv"] = OutputState::SomeoneElse;
    EXPECT_EQ(recoveredOutputPath(path, stateOf), "C:\\clips.v1\\take (recovered 3).flv");
    // A name without an extension (the dot is the folder's) keeps its name whole.
    disk["C:\\clips.v1\\take"] = OutputState::SomeoneElse;
    EXPECT_EQ(recoveredOutputPath("C:\\clips.v1\\take", stateOf), "C:\\clips.v1\\take (recovered)");
    // Nowhere left within the path limit.
    const std::string longPath = "C:\\" + std::string(250, 'a') + ".flv";
    disk[longPath] = OutputState::SomeoneElse;
    EXPECT_EQ(recoveredOutputPath(longPath, stateOf), "");
}

TEST(RecoveryQuestions, NameTheFileTheStartAndTheWholeSecondsRecorded) {
    const std::string q = recoveryQuestion(sample(), 8950);
    EXPECT_NE(q.find(sample().outputPath), std::string::npos);
    EXPECT_NE(q.find("2026-12-07 23:14:05"), std::string::npos);
    EXPECT_NE(q.find("Recorded: 8 seconds"), std::string::npos);
    EXPECT_NE(recoveryQuestion(sample(), 1999).find("Recorded: 1 second\n"), std::string::npos);
    EXPECT_NE(recoveryDeleteQuestion(sample()).find(sample().outputPath), std::string::npos);
}

}  // namespace
}  // namespace pemlo
