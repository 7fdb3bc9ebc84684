// The usage text, as the program prints it: the tests expect it word for word.
#pragma once

namespace tarvix {

constexpr char kUsage[] =
    "Tarvix.exe [Input File] [options]\n"
    "Version: 0.1.0\n"
    "Options:\n"
    "    -o         Output File\n"
    "    -t         Template File\n"
    "    -dbgt      force use Debug Template File\n"
    "    -syntax    SyntaxHighlighter Folder\n"
    "    -imagelink Image add a-tag link\n"
    "    -ext       File Extention Output from Markdown File\n"
    "    -?         this help\n";

}  // namespace tarvix
