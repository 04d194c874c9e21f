#pragma once
// Text in and out of vela_cli as UTF-8 on every system. Windows hands programs their command
// line in UTF-16 and shows console output in the console's code page; both are bridged here.
#include <string>
#include <vector>

namespace vela::cli {

// The arguments after the program name, in UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Where standard output or error is a Windows console, text written to std::cout and std::cerr
// as UTF-8 shows as the characters it encodes. Elsewhere, and into files and pipes, the bytes
// go out as they are.
void UseUtf8Console();

}  // namespace vela::cli
