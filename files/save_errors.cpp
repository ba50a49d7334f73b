// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/save_errors.h"

#include <cerrno>
#include <system_error>

#include "wave/user_texts.h"

namespace files {

std::string SaveFailedErrno(int error) {
    using wave::SaveError;
    switch (error) {
        case ENOSPC:
        case EDQUOT: return wave::SaveFailed(SaveError::NoSpace);
        case EACCES:
        case EPERM:
        case EROFS: return wave::SaveFailed(SaveError::NotPermitted);
        case ENOENT:
        case ENOTDIR: return wave::SaveFailed(SaveError::NoFolder);
        case EISDIR: return wave::SaveFailed(SaveError::NotRegularFile);
        case EFBIG: return wave::SaveFailed(SaveError::TooLarge);
        case ENAMETOOLONG: return wave::SaveFailed(SaveError::NameTooLong);
        default: return wave::SaveFailed(std::generic_category().message(error));
    }
}

}  // namespace files
