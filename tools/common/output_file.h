// An output file that replaces its target only once it is complete.
//
// check() says whether a target may be written: it may be missing, or be a regular file
// (that is then replaced as a whole); a folder, device, pipe, socket or symbolic link at
// that name is refused, as is a name the system cannot hold. create() checks the target,
// then makes a new file beside it (new_file.h: unpredictable name, exclusive, no link
// followed, registered for removal on signals). commit() flushes the file to the disk,
// checks the target once more and renames the new file over it. discard() and the
// destructor remove the new file when it was not committed. The target itself is never
// opened: until commit() it stays exactly as it was.
#pragma once

#include <string>

namespace pemlo::tools {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Empty when `target` may be written, else one line naming it and the reason.
    static std::string check(const std::string& target);

    // 1, or 0 with `error` naming the target or its folder and the system's reason.
    int create(const std::string& target, std::string& error);
    // The new file's descriptor (read and write) while it is not committed, else -1.
    int descriptor() const { return fd_; }
    const std::string& newPath() const { return path_; }
    // 1 once the target is the new file; 0 with `error` (the new file is then removed).
    int commit(std::string& error);
    void discard();

  private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
    int slot_ = -1;
};

}  // namespace pemlo::tools
