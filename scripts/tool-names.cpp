// Writes the tools' executable base names, one a line in index order, from
// the tool table itself: the scripts that lay out a station (demo-setup, the
// benchmarks) read this list (scripts/lib.sh, read_tool_names) rather than
// keep a copy of the table. Usage: tolvane_tool_names OUT_FILE
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "supervisor/core/ToolTable.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tolvane_tool_names OUT_FILE\n";
        return 2;
    }
    // Written aside and renamed, so a reader never finds half a list.
    const std::string path = argv[1];
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::trunc);
        for (const auto& tool : tolvane::toolTable()) out << tool.baseName << '\n';
        out.flush();
        if (!out) {
            std::cerr << "tolvane_tool_names: cannot write " << part << '\n';
            return 1;
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::cerr << "tolvane_tool_names: cannot rename " << part << " to " << path << '\n';
        return 1;
    }
    return 0;
}
