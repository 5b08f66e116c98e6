// Scratch files for the spools, in a given folder, that leave nothing on disk.
//
// Where the file system allows, the file never has a name (O_TMPFILE). Elsewhere it is
// made by createNewFile (new_file.h: unpredictable name, exclusive, no link followed,
// registered for removal) and unlinked at once. Either way it disappears when the
// descriptor is closed or the process ends, however it ends.
#pragma once

#include <string>

namespace pemlo::tools {

enum class Unnamed { Try, Skip };  // Skip: straight to the named way (for the tests)

// Returns a read-write descriptor (close-on-exec), or -1 with `error` naming the folder
// and the system's reason.
int createScratchFile(const std::string& folder, std::string& error,
                      Unnamed unnamed = Unnamed::Try);

}  // namespace pemlo::tools
