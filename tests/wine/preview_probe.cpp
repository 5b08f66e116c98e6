// Writes the program's preview resources the way the "Close" button does, into the
// folder given on the command line, and reports what happened in preview_probe.txt.
// The native test compares the files with the build's template and movie.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/preview_page.h"

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    FILE* report = std::fopen((folder + "\\preview_probe.txt").c_str(), "w");
    if (report == nullptr) {
        return 1;
    }
    bool pass = true;
    auto check = [&](bool ok, const char* what) {
        std::fprintf(report, "%s %s\n", ok ? "ok  " : "FAIL", what);
        pass = pass && ok;
    };

    pemlo::PreviewPageValues values;
    pemlo::makePreviewPageValues(values, 640, 480, "C:\\My Videos\\it's #1 & 100%.flv",
                                 "C:\\My Videos\\it's #1 & 100%.bmp");
    const char* pairs[pemlo::kPreviewPairEntries];
    pemlo::previewPagePairs(values, pairs);

    check(pemlo::writeResourceFile(pemlo::kPreviewMovieResource,
                                   (folder + "\\PemloPreview.swf").c_str(), nullptr, 0) == 1,
          "movie written");
    check(pemlo::writeResourceFile(pemlo::kPreviewPageResource,
                                   (folder + "\\PemloPreview.html").c_str(), pairs,
                                   pemlo::kPreviewPairEntries) == 1,
          "page written");
    // Writing again overwrites.
    check(pemlo::writeResourceFile(pemlo::kPreviewMovieResource,
                                   (folder + "\\PemloPreview.swf").c_str(), nullptr, 0) == 1,
          "movie written again");
    check(pemlo::writeResourceFile(pemlo::kPreviewMovieResource,
                                   (folder + "\\no such folder\\PemloPreview.swf").c_str(), nullptr,
                                   0) == 0,
          "a file that cannot be created fails");
    check(pemlo::writeResourceFile(999, (folder + "\\missing.bin").c_str(), nullptr, 0) == 0 &&
              GetFileAttributesA((folder + "\\missing.bin").c_str()) == INVALID_FILE_ATTRIBUTES,
          "a missing resource fails and creates nothing");
    std::fprintf(report, "%s\n", pass ? "PASS" : "FAIL");
    std::fclose(report);
    return pass ? 0 : 1;
}
