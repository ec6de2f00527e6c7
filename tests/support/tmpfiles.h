// Temporary directory removed with everything in it when the object dies.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes `content` to path()/name and returns the full path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

// Whole content of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
