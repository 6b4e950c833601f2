#pragma once

// Helpers the tests share: where the generated test images are, and copies of
// the ready-made images of tests/data (never used in place: tests must not
// write to them).

#include <filesystem>
#include <string>

namespace testsupport {

// The folder the fixture scripts fill at test time.
std::filesystem::path testImagesDir();
// A generated image by name; empty when it was not made.
std::filesystem::path testImage(const std::string& name);
// tests/data, the ready-made images kept in the repository.
std::filesystem::path readyImagesDir();
// A private copy of a ready-made image in a fresh temporary folder.
std::filesystem::path copyOfReadyImage(const std::string& name);
// A fresh, empty temporary folder removed at process exit.
std::filesystem::path makeTempDir(const std::string& tag = "t");

} // namespace testsupport
