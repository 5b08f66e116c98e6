// The file seam: the few operations the writers and spools need from a file,
// over a Win32 HANDLE on Windows and a POSIX descriptor elsewhere.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace pemlo {

class File {
  public:
    virtual ~File() = default;

    // Writes up to `count` bytes at the current offset; returns how many were written.
    // A count below `count` is a failed write.
    virtual uint32_t write(const void* data, uint32_t count) = 0;
    // Reads up to `count` bytes; returns how many were read (0 at the end), -1 on error.
    virtual int64_t read(void* data, uint32_t count) = 0;
    // Moves to an absolute offset from the start. Returns false on failure.
    virtual bool seek(uint64_t offset) = 0;
    // Moves to the end of the file. Returns false on failure.
    virtual bool seekEnd() = 0;
    // The current offset, or -1 when it cannot be read.
    virtual int64_t tell() = 0;
    // Closes the file; later calls fail. Returns false when closing failed.
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;
    // Asks the system to put what was written on the disk itself, so that it survives a
    // power cut. Returns false when that failed. Files that live in memory have nothing to do.
    virtual bool flush() { return true; }
    // A second handle on the same open file (for flushing it from another thread while
    // this one writes); it stays usable after this one is closed. Null when the file
    // cannot be duplicated (files that live in memory).
    virtual std::unique_ptr<File> duplicate() { return nullptr; }
};

using FilePtr = std::unique_ptr<File>;

// Second handles (File::duplicate) on each of `files` that is not null, appended to
// `out`. 1 when every one could be duplicated.
inline int duplicateFiles(std::initializer_list<File*> files, std::vector<FilePtr>& out) {
    int ok = 1;
    for (File* file : files) {
        FilePtr copy = file == nullptr ? nullptr : file->duplicate();
        if (copy != nullptr) {
            out.push_back(std::move(copy));
        } else if (file != nullptr) {
            ok = 0;
        }
    }
    return ok;
}

// Flushes each of `files` that is not null (all of them, whatever the first ones give).
// 1 when every one flushed.
inline int flushFiles(std::initializer_list<File*> files) {
    int ok = 1;
    for (File* file : files) {
        if (file != nullptr && !file->flush()) {
            ok = 0;
        }
    }
    return ok;
}

// Creates (or truncates) a file for reading and writing. Null on failure.
FilePtr createFile(const std::string& path);
// Opens an existing file for reading. Null on failure.
FilePtr openFileForReading(const std::string& path);
// Creates a scratch file that disappears when it is closed or the process ends.
// On Windows it is a delete-on-close file; elsewhere it is unlinked once created.
FilePtr createTemporaryFile(const std::string& path);
// Creates (or truncates) a file for reading and writing that no other process may open
// while it is open, and that stays on disk when it is closed or the process ends (the
// spools, which a later start can still read). Null on failure.
FilePtr createKeptFile(const std::string& path);
// Deletes a file by name. Returns false when it could not be deleted.
bool deleteFile(const std::string& path);
// Creates one folder (its parent must exist). True when it exists afterwards.
bool makeFolder(const std::string& path);
// Removes an empty folder. Returns false when it could not be removed.
bool removeFolder(const std::string& path);

}  // namespace pemlo
