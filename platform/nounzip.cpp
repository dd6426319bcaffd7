// c:unzip for builds without libarchive (the target has none): the command is there, so the
// shell finds it, and fails as an unzip that cannot read the archive would.
#include "platform/internal.h"

namespace platform {

int32 Unzip(const std::vector<std::string> &words)
{
    Trace("%s: no archive support in this build\n", words[0].c_str());
    return RETURN_ERROR;
}

}  // namespace platform
