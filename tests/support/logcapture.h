// Collects the log lines written while it lives, and sets the verbosity.
#pragma once

#include <string>
#include <vector>

class LogCapture {
public:
    explicit LogCapture(int level = 4);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    // True when some line contains `text`.
    bool contains(const std::string& text) const;
    // Number of lines containing `text`.
    int count(const std::string& text) const;
    void clear() { lines_.clear(); }

private:
    std::vector<std::string> lines_;
    int saved_level_;
};
