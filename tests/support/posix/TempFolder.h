#pragma once
// A folder of its own for one test, removed with everything in it at the end.

#include <string>
#include <vector>

namespace tolvane::testsupport {

class TempFolder {
public:
    // Creates /tmp/tolvane-test-XXXXXX (readable by everyone, so a program run
    // under another user can reach it), and inside it `leaf` when given
    // (e.g. "Vantorix Été"); path() is the innermost folder.
    explicit TempFolder(const std::string& leaf = {});
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_root;
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& content, unsigned mode = 0644);
std::string readFile(const std::string& path);
// Every line of these files (a daily journal's, say), in the order of their
// sorted paths.
std::vector<std::string> linesOfFiles(std::vector<std::string> paths);

}  // namespace tolvane::testsupport
