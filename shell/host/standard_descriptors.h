// The three standard descriptors, made safe before the program opens a file.
#pragma once

namespace host {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Started
// with one of them closed, the first file the program opens would get its
// number, and messages meant for the terminal would be written into that
// file. Returns false when a closed one could not be filled.
bool openMissingStandardDescriptors();

}  // namespace host
