#include "tests/support/posix/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace tolvane::testsupport {

TempFolder::TempFolder(const std::string& leaf) {
    std::string pattern = "/tmp/tolvane-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    m_root = buf.data();
    ::chmod(m_root.c_str(), 0755);
    m_path = m_root;
    if (!leaf.empty()) {
        m_path = m_root + "/" + leaf;
        std::filesystem::create_directories(m_path);
        ::chmod(m_path.c_str(), 0755);
    }
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot write " + path);
        out << content;
    }
    ::chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOfFiles(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> lines;
    for (const auto& path : paths) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

}  // namespace tolvane::testsupport
