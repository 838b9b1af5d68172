#pragma once

// Comparing two open files by their bytes.

namespace platform {

// Whether the regular files open at `first` and `second` hold the same bytes,
// compared in chunks read by offset, so that memory stays bounded whatever
// their size. The sizes are those the files have when it is called; a read
// that fails or comes up short (a file cut meanwhile) answers false.
bool haveSameContents(int first, int second);

}  // namespace platform
