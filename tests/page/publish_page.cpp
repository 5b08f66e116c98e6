// Publishes the preview page into a folder, as the program does into the temporary
// folder, from the template and the movie of the build; the page is left for a browser.
// usage: pemlo_publish_page FOLDER WIDTH HEIGHT OUTPUT_PATH THUMBNAIL_PATH TEMPLATE MOVIE
//        [DATA_LIMIT]   (bytes of FLV written beside the page; the program's limit else)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/preview_page.h"

namespace {

bool readAll(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

class FolderPlatform final : public pemlo::PreviewPlatform {
  public:
    std::string folder;
    std::string pageTemplate;
    std::string movie;

    bool tempFolder(std::string& out) override {
        out = folder + "/";
        return true;
    }
    int writeResource(int id, const std::string& path, const char* const* pairs,
                      int entries) override {
        const std::string& data = id == pemlo::kPreviewPageResource ? pageTemplate : movie;
        pemlo::FilePtr file = pemlo::createFile(path);
        if (!file) {
            std::fprintf(stderr, "cannot create %s\n", path.c_str());
            return 0;
        }
        return pemlo::writeFilledResource(*file, data.data(), data.size(), pairs, entries);
    }
    bool openPage(const std::string& path) override {
        std::printf("%s\n", path.c_str());
        return true;
    }
    uint64_t limit = pemlo::kPreviewDataLimit;
    uint64_t dataLimit() override { return limit; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8 && argc != 9) {
        std::fprintf(stderr,
                     "usage: %s FOLDER WIDTH HEIGHT OUTPUT_PATH THUMBNAIL_PATH TEMPLATE MOVIE "
                     "[DATA_LIMIT]\n",
                     argv[0]);
        return 2;
    }
    FolderPlatform platform;
    platform.folder = argv[1];
    if (argc == 9) {
        platform.limit = std::strtoull(argv[8], nullptr, 10);
    }
    if (!readAll(argv[6], platform.pageTemplate) || !readAll(argv[7], platform.movie)) {
        std::fprintf(stderr, "cannot read the template or the movie\n");
        return 1;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    return pemlo::publishPreviewPageWith(platform, width, height, argv[4], argv[5]) == 1 ? 0 : 1;
}
