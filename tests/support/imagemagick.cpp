#include "support/imagemagick.h"

#include <cstdlib>

namespace quolb::test {

#ifdef _WIN32
// Windows has a convert of its own, which converts disks, not pictures.
bool runImageMagick(const std::string&) { return false; }
#else
bool runImageMagick(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}
#endif

}  // namespace quolb::test
