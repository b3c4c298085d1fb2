#include "async32/errors.h"

#include <cerrno>
#include <cstring>

namespace async32 {

ErrorKind ClassifyError(int code) {
  switch (code) {
    case 0: return ErrorKind::kNone;
    case ENOENT:
    case ENODEV:
    case ENXIO: return ErrorKind::kNotFound;
    case EACCES:
    case EPERM: return ErrorKind::kDenied;
    case EBUSY: return ErrorKind::kBusy;
    case EIO:
    case EPIPE: return ErrorKind::kGone;
    case EINVAL: return ErrorKind::kRefusedSetting;
    default: return ErrorKind::kOther;
  }
}

std::string ErrorText(int code) { return std::strerror(code); }

int NotOpenError() { return EBADF; }

}  // namespace async32
