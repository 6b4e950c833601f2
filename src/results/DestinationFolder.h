#pragma once

// One folder of the destination, held open. Everything below the chosen
// destination is created relative to an open folder (mkdirat, openat) and
// never through a symbolic link, so a link planted in the destination, or a
// folder swapped for one while the save runs, cannot send a write anywhere
// else. Each folder and file made is checked once more: its resolved path
// must lie inside the destination. Nothing that exists is ever opened for
// writing but a file the save itself made, known by its device and inode:
// files are created exclusively, under a new name when the name is taken.

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

class DestinationFolder {
public:
    DestinationFolder(const DestinationFolder&) = delete;
    DestinationFolder& operator=(const DestinationFolder&) = delete;
    DestinationFolder(DestinationFolder&& other) noexcept;
    DestinationFolder& operator=(DestinationFolder&& other) noexcept;
    ~DestinationFolder();

    // The chosen destination folder itself (the user chose it, so a link to
    // it is followed here and nowhere below). Empty with errno set when it
    // cannot be opened as a folder.
    static std::optional<DestinationFolder> openDestination(const std::string& path);

    // The folder `name` inside this one: created with permissions 0777, or,
    // when a real folder of that name exists, that folder. A name taken by
    // anything else (a file, a link) moves on to the next collision name.
    // createdName receives the name used. Empty with errno set on failure.
    std::optional<DestinationFolder> makeFolder(const std::string& name, std::string& createdName) const;
    // An existing real folder of this folder (never through a link).
    std::optional<DestinationFolder> openFolder(const std::string& name) const;

    // A new file `name` in this folder, created exclusively with permissions
    // 0644 (less the umask) and open for writing; a taken name moves on to the next collision
    // name until one is free. Returns the descriptor (the caller closes it)
    // or -1 with errno set.
    int createFile(const std::string& name, std::string& createdName) const;
    // The file createFile made as `name`, open for writing again, when the
    // name still names that very file (its device and inode) and it is a
    // plain file: the descriptor, or -1 with errno set (ESTALE when something
    // else has taken the name).
    int reopenFile(const std::string& name, dev_t device, ino_t inode) const;
    // Removes the file createFile made as `name`, open as `fd`, when the name
    // still names that very file; whatever has taken the name since stays.
    bool removeFile(const std::string& name, int fd) const;

    int fd() const { return fd_; }
    // The destination's resolved path, shared by every folder below it.
    const std::string& destinationRoot() const { return *root_; }

private:
    DestinationFolder(int fd, std::shared_ptr<const std::string> root);
    // Whether the open descriptor resolves to a path inside the destination.
    // True when the system cannot say (no /proc).
    bool insideDestination(int fd) const;

    int fd_ = -1;
    std::shared_ptr<const std::string> root_;
};
