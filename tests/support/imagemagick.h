// ImageMagick as an independent writer and judge of bitmaps.
#pragma once

#include <string>

namespace quolb::test {

// Runs an ImageMagick command line ("convert ...", "compare ..."), split as a
// shell would split it; true when it exits with 0. Always false on Windows,
// where none is called.
bool runImageMagick(const std::string& command);

}  // namespace quolb::test
