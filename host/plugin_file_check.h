// A look at a plug-in file before it is handed to the system's loader, which maps a cut or
// damaged object and then dies on the first page that is not there (SIGBUS).
#pragma once

#include <string>

namespace vyxhost {

// Throws LoadError naming the file and what is wrong with it: not a regular file, not an ELF
// shared object for this machine and word size, or shorter than its own headers say.
void checkPluginFile(const std::string& path);

}  // namespace vyxhost
