// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/save_errors.h"

#include <cerrno>
#include <system_error>

#include "wave/user_texts.h"

namespace files {

std::string SaveReasonErrno(int error) {
    using wave::SaveError;
    const auto reason = [](SaveError e) { return std::string(wave::SaveReason(e)); };
    switch (error) {
        case ENOSPC:
        case EDQUOT: return reason(SaveError::NoSpace);
        case EACCES:
        case EPERM:
        case EROFS: return reason(SaveError::NotPermitted);
        case ENOENT:
        case ENOTDIR: return reason(SaveError::NoFolder);
        case EISDIR: return reason(SaveError::NotRegularFile);
        case EFBIG: return reason(SaveError::TooLarge);
        case ENAMETOOLONG: return reason(SaveError::NameTooLong);
        case EIO: return reason(SaveError::IoError);
        case EBUSY:
        case ETXTBSY: return reason(SaveError::Busy);
        case ELOOP: return reason(SaveError::TooManyLinks);
        default: return std::generic_category().message(error);
    }
}

std::string SaveFailedErrno(int error) { return wave::SaveFailed(SaveReasonErrno(error)); }

}  // namespace files
